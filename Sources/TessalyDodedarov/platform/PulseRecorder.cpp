#include "platform/PulseRecorder.h"

#include <pulse/pulseaudio.h>

#include <QLibrary>

#include <utility>

namespace {

// The sound server's client library, loaded on the first recording rather than with the
// application: it maps a dozen more libraries (sound files and their codecs) that only a
// meeting needs, and the start-up would wait for them.
#define DODEDAROV_PULSE_FUNCTIONS(F) \
    F(pa_channel_map_compatible) \
    F(pa_channel_map_init_extend) \
    F(pa_context_connect) \
    F(pa_context_disconnect) \
    F(pa_context_errno) \
    F(pa_context_get_server_info) \
    F(pa_context_get_sink_info_by_name) \
    F(pa_context_get_source_info_by_name) \
    F(pa_context_get_state) \
    F(pa_context_new_with_proplist) \
    F(pa_context_rttime_new) \
    F(pa_context_set_state_callback) \
    F(pa_context_set_subscribe_callback) \
    F(pa_context_subscribe) \
    F(pa_context_unref) \
    F(pa_frame_size) \
    F(pa_operation_cancel) \
    F(pa_operation_get_state) \
    F(pa_operation_unref) \
    F(pa_proplist_free) \
    F(pa_proplist_new) \
    F(pa_proplist_sets) \
    F(pa_rtclock_now) \
    F(pa_sample_spec_equal) \
    F(pa_sample_spec_valid) \
    F(pa_stream_connect_record) \
    F(pa_stream_disconnect) \
    F(pa_stream_drop) \
    F(pa_stream_get_sample_spec) \
    F(pa_stream_get_state) \
    F(pa_stream_new_with_proplist) \
    F(pa_stream_peek) \
    F(pa_stream_readable_size) \
    F(pa_stream_set_read_callback) \
    F(pa_stream_set_state_callback) \
    F(pa_stream_unref) \
    F(pa_strerror) \
    F(pa_threaded_mainloop_free) \
    F(pa_threaded_mainloop_get_api) \
    F(pa_threaded_mainloop_lock) \
    F(pa_threaded_mainloop_new) \
    F(pa_threaded_mainloop_set_name) \
    F(pa_threaded_mainloop_signal) \
    F(pa_threaded_mainloop_start) \
    F(pa_threaded_mainloop_stop) \
    F(pa_threaded_mainloop_unlock) \
    F(pa_threaded_mainloop_wait)

struct PulseLibrary {
#define DODEDAROV_DECLARE(name) decltype(&::name) name = nullptr;
    DODEDAROV_PULSE_FUNCTIONS(DODEDAROV_DECLARE)
#undef DODEDAROV_DECLARE
    bool complete = false;
    QString problem; // why it could not be loaded
};

// Loaded once and kept; every call through it runs once open() has found it whole.
const PulseLibrary &pulse()
{
    static const PulseLibrary loaded = [] {
        PulseLibrary library;
        QLibrary file(QStringLiteral("pulse"), 0); // libpulse.so.0
        if (!file.load()) {
            library.problem = file.errorString();
            return library;
        }
        bool complete = true;
#define DODEDAROV_RESOLVE(name)                                                                    \
    library.name = reinterpret_cast<decltype(library.name)>(file.resolve(#name));                \
    complete = complete && library.name;
        DODEDAROV_PULSE_FUNCTIONS(DODEDAROV_RESOLVE)
#undef DODEDAROV_RESOLVE
        library.complete = complete;
        if (!complete)
            library.problem = file.errorString();
        return library;
    }();
    return loaded;
}

// An unresponsive server must not hang the caller's queue.
constexpr pa_usec_t kServerTimeout = 5 * PA_USEC_PER_SEC;

QString errorText(int code)
{
    return QString::fromUtf8(pulse().pa_strerror(code));
}

} // namespace

struct PulseRecorder::Private {
    Device device;
    QByteArray threadName;
    DeviceInfo info;
    pa_channel_map channelMap{};

    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    size_t frameBytes = 0;

    DataHandler data;
    ChangeHandler changed;
    bool recording = false;       // the stream reached its ready state
    bool changeReported = false;  // `changed` fires once per recording

    // Results of the queries that open() waits for.
    bool queryFailed = false;
    QString queriedDefault;
    bool timedOut = false;

    void signal() { pulse().pa_threaded_mainloop_signal(loop, 0); }

    // Waits (lock held) until `done` holds or the server timeout passes.
    template <typename Done>
    bool waitUntil(Done done)
    {
        timedOut = false;
        pa_time_event *timer = pulse().pa_context_rttime_new(
            context, pulse().pa_rtclock_now() + kServerTimeout,
            [](pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata) {
                auto *self = static_cast<Private *>(userdata);
                self->timedOut = true;
                self->signal();
            },
            this);
        while (!done() && !timedOut)
            pulse().pa_threaded_mainloop_wait(loop);
        if (timer)
            pulse().pa_threaded_mainloop_get_api(loop)->time_free(timer);
        return done();
    }

    // Waits (lock held) for an operation to finish; false when it could not be sent, failed
    // or timed out.
    bool finish(pa_operation *operation)
    {
        if (!operation)
            return false;
        waitUntil([&] { return pulse().pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        // Cancelled means the connection broke before the answer came.
        const bool done = pulse().pa_operation_get_state(operation) == PA_OPERATION_DONE;
        if (!done)
            pulse().pa_operation_cancel(operation);
        pulse().pa_operation_unref(operation);
        return done && !queryFailed;
    }

    void reportChange()
    {
        if (!recording || changeReported)
            return;
        changeReported = true;
        if (changed)
            changed();
    }

    Failure failure(Step step, int code) const
    {
        return Failure{step, code, code ? errorText(code) : QString()};
    }

    int contextError() const
    {
        if (timedOut)
            return PA_ERR_TIMEOUT;
        const int code = context ? pulse().pa_context_errno(context) : PA_ERR_INTERNAL;
        return code ? code : PA_ERR_UNKNOWN;
    }

    static void onContextState(pa_context *context, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        // A server that goes away while recording leaves nothing to record.
        if (!PA_CONTEXT_IS_GOOD(pulse().pa_context_get_state(context)))
            self->reportChange();
        self->signal();
    }

    static void onStreamState(pa_stream *stream, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        // The stream may not move to another device, so losing the device ends it.
        if (!PA_STREAM_IS_GOOD(pulse().pa_stream_get_state(stream)))
            self->reportChange();
        self->signal();
    }

    static void onRead(pa_stream *stream, size_t, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        while (pulse().pa_stream_readable_size(stream) > 0) {
            const void *bytes = nullptr;
            size_t count = 0;
            if (pulse().pa_stream_peek(stream, &bytes, &count) < 0 || count == 0)
                return;
            // A null pointer with a size is a hole in the stream: nothing to deliver.
            if (bytes && self->data && self->frameBytes > 0)
                self->data(static_cast<const float *>(bytes), qsizetype(count / self->frameBytes));
            pulse().pa_stream_drop(stream);
        }
    }

    static void onServerInfo(pa_context *, const pa_server_info *info, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        const char *name = nullptr;
        if (info)
            name = self->device == Device::defaultOutputMonitor ? info->default_sink_name
                                                                : info->default_source_name;
        self->queriedDefault = QString::fromUtf8(name ? name : "");
        self->signal();
    }

    static void onSinkInfo(pa_context *, const pa_sink_info *info, int eol, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        if (eol < 0)
            self->queryFailed = true;
        if (info) {
            self->info.name = QString::fromUtf8(info->monitor_source_name ? info->monitor_source_name : "");
            self->info.sampleRate = info->sample_spec.rate;
            self->info.channels = info->sample_spec.channels;
            self->channelMap = info->channel_map;
        }
        self->signal();
    }

    static void onSourceInfo(pa_context *, const pa_source_info *info, int eol, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        if (eol < 0)
            self->queryFailed = true;
        if (info) {
            self->info.name = QString::fromUtf8(info->name ? info->name : "");
            self->info.sampleRate = info->sample_spec.rate;
            self->info.channels = info->sample_spec.channels;
            self->channelMap = info->channel_map;
        }
        self->signal();
    }

    // A change of the server's defaults: compare with the device we record.
    static void onEvent(pa_context *context, pa_subscription_event_type_t, uint32_t, void *userdata)
    {
        auto *self = static_cast<Private *>(userdata);
        pa_operation *operation = pulse().pa_context_get_server_info(
            context,
            [](pa_context *, const pa_server_info *info, void *userdata) {
                auto *self = static_cast<Private *>(userdata);
                if (!info)
                    return;
                const char *name = self->device == Device::defaultOutputMonitor
                    ? info->default_sink_name
                    : info->default_source_name;
                if (QString::fromUtf8(name ? name : "") != self->info.defaultName)
                    self->reportChange();
            },
            self);
        if (operation)
            pulse().pa_operation_unref(operation);
    }
};

PulseRecorder::PulseRecorder(Device device, const QString &threadName)
    : d(std::make_unique<Private>())
{
    d->device = device;
    d->threadName = threadName.toUtf8();
}

PulseRecorder::~PulseRecorder()
{
    close();
}

const PulseRecorder::DeviceInfo &PulseRecorder::device() const
{
    return d->info;
}

std::optional<PulseRecorder::Failure> PulseRecorder::open()
{
    close();
    d->info = {};

    if (!pulse().complete)
        return Failure{Step::connect, 0, pulse().problem};
    d->loop = pulse().pa_threaded_mainloop_new();
    if (!d->loop)
        return d->failure(Step::connect, PA_ERR_INTERNAL);
    pulse().pa_threaded_mainloop_set_name(d->loop, d->threadName.constData());

    pa_proplist *properties = pulse().pa_proplist_new();
    pulse().pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Tessaly Dodedarov");
    pulse().pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "com.tessalab.dodedarov");
    d->context = pulse().pa_context_new_with_proplist(pulse().pa_threaded_mainloop_get_api(d->loop),
                                                      "Tessaly Dodedarov", properties);
    pulse().pa_proplist_free(properties);
    if (!d->context) {
        close();
        return d->failure(Step::connect, PA_ERR_INTERNAL);
    }
    pulse().pa_context_set_state_callback(d->context, &Private::onContextState, d.get());

    if (pulse().pa_threaded_mainloop_start(d->loop) < 0) {
        close();
        return d->failure(Step::connect, PA_ERR_INTERNAL);
    }

    pulse().pa_threaded_mainloop_lock(d->loop);
    // Never start a sound server of our own: only a running one is used.
    std::optional<Failure> failure;
    if (pulse().pa_context_connect(d->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        failure = d->failure(Step::connect, d->contextError());
    } else {
        const bool ready = d->waitUntil([this] {
            const pa_context_state_t state = pulse().pa_context_get_state(d->context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        });
        if (!ready)
            failure = d->failure(Step::connect, PA_ERR_TIMEOUT);
        else if (pulse().pa_context_get_state(d->context) != PA_CONTEXT_READY)
            failure = d->failure(Step::connect, d->contextError());
    }

    if (!failure) {
        d->queryFailed = false;
        if (!d->finish(pulse().pa_context_get_server_info(d->context, &Private::onServerInfo, d.get())))
            failure = d->failure(Step::findDevice, d->contextError());
        else if (d->queriedDefault.isEmpty())
            failure = Failure{Step::findDevice, 0, QString()};
    }

    if (!failure) {
        d->info.defaultName = d->queriedDefault;
        const QByteArray name = d->queriedDefault.toUtf8();
        d->queryFailed = false;
        pa_operation *operation = d->device == Device::defaultOutputMonitor
            ? pulse().pa_context_get_sink_info_by_name(d->context, name.constData(),
                                                       &Private::onSinkInfo, d.get())
            : pulse().pa_context_get_source_info_by_name(d->context, name.constData(),
                                                         &Private::onSourceInfo, d.get());
        if (!d->finish(operation))
            failure = d->failure(Step::findDevice, d->contextError());
        else if (d->info.name.isEmpty())
            failure = Failure{Step::findDevice, 0, QString()};
    }
    pulse().pa_threaded_mainloop_unlock(d->loop);

    if (failure)
        close();
    return failure;
}

std::optional<PulseRecorder::Failure> PulseRecorder::record(double sampleRate,
                                                            qsizetype fragmentFrames,
                                                            DataHandler data,
                                                            ChangeHandler changed)
{
    if (!d->context)
        return d->failure(Step::createStream, PA_ERR_BADSTATE);

    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = uint32_t(sampleRate);
    spec.channels = uint8_t(d->info.channels);
    if (!pulse().pa_sample_spec_valid(&spec))
        return d->failure(Step::createStream, PA_ERR_INVALID);
    pa_channel_map map = d->channelMap;
    if (!pulse().pa_channel_map_compatible(&map, &spec))
        pulse().pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
    d->frameBytes = pulse().pa_frame_size(&spec);

    pulse().pa_threaded_mainloop_lock(d->loop);
    std::optional<Failure> failure;
    // Deliberately no media role: a "phone" role makes PipeWire hand over a microphone.
    pa_proplist *properties = pulse().pa_proplist_new();
    pulse().pa_proplist_sets(properties, PA_PROP_MEDIA_NAME,
                     d->device == Device::defaultOutputMonitor ? "System sound" : "Microphone");
    d->stream = pulse().pa_stream_new_with_proplist(d->context, "capture", &spec, &map, properties);
    pulse().pa_proplist_free(properties);
    if (!d->stream) {
        failure = d->failure(Step::createStream, d->contextError());
    } else {
        d->data = std::move(data);
        d->changed = std::move(changed);
        d->changeReported = false;
        pulse().pa_stream_set_state_callback(d->stream, &Private::onStreamState, d.get());
        pulse().pa_stream_set_read_callback(d->stream, &Private::onRead, d.get());

        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(-1);
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(size_t(fragmentFrames) * d->frameBytes);
        const QByteArray source = d->info.name.toUtf8();
        // Not movable: if the device goes away the stream ends and the owner is told, rather
        // than the server quietly switching us to some other input.
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
        if (pulse().pa_stream_connect_record(d->stream, source.constData(), &attr, flags) < 0) {
            failure = d->failure(Step::startStream, d->contextError());
        } else {
            const bool settled = d->waitUntil([this] {
                const pa_stream_state_t state = pulse().pa_stream_get_state(d->stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            });
            if (!settled)
                failure = d->failure(Step::startStream, PA_ERR_TIMEOUT);
            else if (pulse().pa_stream_get_state(d->stream) != PA_STREAM_READY)
                failure = d->failure(Step::startStream, d->contextError());
            else if (!pulse().pa_sample_spec_equal(pulse().pa_stream_get_sample_spec(d->stream), &spec))
                // The data would be read in the wrong layout.
                failure = d->failure(Step::startStream, PA_ERR_NOTSUPPORTED);
        }
    }

    if (!failure) {
        d->recording = true;
        // Without the subscription capture still runs, only without device-change notices.
        pulse().pa_context_set_subscribe_callback(d->context, &Private::onEvent, d.get());
        pa_operation *operation = pulse().pa_context_subscribe(d->context, PA_SUBSCRIPTION_MASK_SERVER,
                                                       nullptr, nullptr);
        if (operation)
            pulse().pa_operation_unref(operation);
    }
    pulse().pa_threaded_mainloop_unlock(d->loop);

    if (failure)
        close();
    return failure;
}

void PulseRecorder::close()
{
    if (!d->loop)
        return;
    pulse().pa_threaded_mainloop_lock(d->loop);
    d->recording = false;
    if (d->stream) {
        pulse().pa_stream_set_state_callback(d->stream, nullptr, nullptr);
        pulse().pa_stream_set_read_callback(d->stream, nullptr, nullptr);
        pulse().pa_stream_disconnect(d->stream);
        pulse().pa_stream_unref(d->stream);
        d->stream = nullptr;
    }
    if (d->context) {
        pulse().pa_context_set_state_callback(d->context, nullptr, nullptr);
        pulse().pa_context_set_subscribe_callback(d->context, nullptr, nullptr);
        pulse().pa_context_disconnect(d->context);
        pulse().pa_context_unref(d->context);
        d->context = nullptr;
    }
    pulse().pa_threaded_mainloop_unlock(d->loop);
    // Joins the server thread: no handler runs after this.
    pulse().pa_threaded_mainloop_stop(d->loop);
    pulse().pa_threaded_mainloop_free(d->loop);
    d->loop = nullptr;
    d->data = nullptr;
    d->changed = nullptr;
}
