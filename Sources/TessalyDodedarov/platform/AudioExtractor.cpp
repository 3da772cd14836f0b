#include "platform/AudioExtractor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>

#include <mutex>

namespace {

using ExtractFunction = bool (*)(const QString &, const QString &, const std::atomic_bool &, QString &, double &);

struct Loaded {
    ExtractFunction extract = nullptr;
    QString error;
};

// The module, loaded once per path and kept for the life of the process.
Loaded load(const QStringList &candidates)
{
    static std::mutex lock;
    static QHash<QString, Loaded> byPaths;
    const std::lock_guard guard(lock);
    const QString key = candidates.join(u'\n');
    if (const auto found = byPaths.constFind(key); found != byPaths.cend())
        return *found;
    Loaded loaded;
    QStringList errors;
    for (const QString &path : candidates) {
        if (!QFileInfo::exists(path)) {
            errors.append(path + QStringLiteral("：文件不存在"));
            continue;
        }
        QLibrary library(path);
        library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (!library.load()) {
            errors.append(library.errorString());
            continue;
        }
        loaded.extract = reinterpret_cast<ExtractFunction>(library.resolve("dodedarov_extract_audio"));
        if (loaded.extract)
            break;
        errors.append(library.errorString());
    }
    if (!loaded.extract)
        loaded.error = QStringLiteral("无法加载提取声音的组件（") + AudioExtractor::moduleName + QStringLiteral("）：")
                       + errors.join(QStringLiteral("；"));
    byPaths.insert(key, loaded);
    return loaded;
}

}

QStringList AudioExtractor::modulePaths()
{
    if (!modulePathsOverride.isEmpty())
        return modulePathsOverride;
    QStringList paths;
    // Installed: beside the application, in lib/tessaly-dodedarov of its prefix.
    const QString bin = QCoreApplication::applicationDirPath();
    if (!bin.isEmpty())
        paths.append(QDir(bin).filePath(QStringLiteral("../lib/tessaly-dodedarov/") + moduleName));
#ifdef DODEDAROV_EXTRACTOR_BUILD_PATH
    // In the build tree: the application, the tests and the benchmarks of that build.
    paths.append(QStringLiteral(DODEDAROV_EXTRACTOR_BUILD_PATH));
#endif
    return paths;
}

std::optional<QString> AudioExtractor::unavailable()
{
    const Loaded loaded = load(modulePaths());
    if (loaded.extract)
        return std::nullopt;
    return loaded.error;
}

std::optional<AudioExtractor::Result> AudioExtractor::extract(const QString &source, const QString &folder,
                                                              const std::atomic_bool &cancelled)
{
    const Loaded loaded = load(modulePaths());
    if (!loaded.extract)
        return std::nullopt;
    Result result;
    if (!loaded.extract(source, folder, cancelled, result.path, result.duration))
        return std::nullopt;
    return result;
}
