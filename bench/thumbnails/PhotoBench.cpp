// pallix-photo-bench: the time and peak memory of one grid thumbnail (256 px)
// of a 12-megapixel photo in the formats the helper reads, beside a JPEG of
// the same size.
//
//   pallix-photo-bench [runs=5]
//
// Draws a 4000 × 3000 picture and stores it as JPEG, as HEIC (libheif's
// encoder, with and without the small thumbnail phones store) and as DNG
// (with a 1600 × 1200 camera preview, and without one, so the raw data are
// developed). Each file is decoded `runs` times by the helper process; the
// median wall time and the helper's peak resident memory (through GNU time,
// /usr/bin/time) are reported, and for the JPEG also the in-process decode
// the application makes.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "App/Preview/PhotoFiles.h"
#include "App/Preview/RasterDecoding.h"

using namespace pallix;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double ms = 0;
    long peakKiB = 0;
    bool ok = false;
};

// The helper once, as the application starts it. Its peak memory comes from
// GNU time, which forks it from a small process of its own: a child spawned
// straight from this one would be charged with this process's memory.
Run helperRun(const QString& path, const QString& peakFile)
{
    const QByteArray helper = RasterDecoding::helperPath().toLocal8Bit();
    const QByteArray file = path.toLocal8Bit();
    const QByteArray peak = peakFile.toLocal8Bit();
    char* argv[] = {const_cast<char*>("/usr/bin/time"), const_cast<char*>("-f"), const_cast<char*>("%M"),
                    const_cast<char*>("-o"), const_cast<char*>(peak.constData()),
                    const_cast<char*>(helper.constData()), const_cast<char*>("image"), const_cast<char*>("256"),
                    const_cast<char*>(file.constData()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    Run run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        QFile kib(peakFile);
        if (kib.open(QIODevice::ReadOnly))
            run.peakKiB = kib.readAll().trimmed().split('\n').last().toLong();
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void report(const char* name, const QString& path, int runs)
{
    const QString peakFile = path + QStringLiteral(".peak");
    std::vector<double> times;
    long peak = 0;
    bool ok = true;
    for (int i = 0; i < runs; ++i) {
        const Run run = helperRun(path, peakFile);
        times.push_back(run.ms);
        peak = std::max(peak, run.peakKiB);
        ok = ok && run.ok;
    }
    std::printf("%-34s %9.1f MB %8.0f ms %9.1f MB%s\n", name, QFile(path).size() / 1e6, median(times), peak / 1024.0,
                ok ? "" : "  (no picture)");
}

QImage photo()
{
    QImage image(4000, 3000, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 4000, 3000);
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(1, QColor(230, 180, 90));
    painter.fillRect(image.rect(), sky);
    for (int i = 0; i < 400; ++i)
        painter.fillRect((i * 397) % 3900, (i * 211) % 2900, 40 + i % 90, 30 + i % 70, QColor::fromHsv(i * 37 % 360, 180, 220));
    return image;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile out(path);
    if (out.open(QIODevice::WriteOnly))
        out.write(bytes);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    const QImage picture = photo();
    const QString jpeg = dir.filePath("photo.jpg");
    picture.save(jpeg, "JPEG", 90);
    const QString heic = dir.filePath("photo.heic");
    const QString heicThumb = dir.filePath("photo-thumb.heic");
    const bool encoded = test::encodeWithLibheif(picture, heic);
    const QString encoder = QStandardPaths::findExecutable("heif-enc");
    QProcess::execute(encoder, {"-q", "95", "-t", "320", "-o", heicThumb, heic + ".source.png"});
    QImage preview = picture.scaled(1600, 1200, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QString dng = dir.filePath("photo.dng");
    const QString rawOnly = dir.filePath("photo-raw-only.dng");
    writeFile(dng, test::dngFile(picture, 1, preview));
    writeFile(rawOnly, test::dngFile(picture, 1));

    std::printf("12-megapixel photo, 256 px thumbnail, median of %d runs\n", runs);
    std::printf("%-34s %12s %11s %12s\n", "file", "size", "time", "helper peak");
    std::vector<double> inProcess;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        RasterDecoding::decodeImage(jpeg, 256);
        inProcess.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("%-34s %9.1f MB %8.0f ms %12s\n", "JPEG, in the application", QFile(jpeg).size() / 1e6,
                median(inProcess), "-");
    report("JPEG, through the helper", jpeg, runs);
    if (encoded) {
        report("HEIC", heic, runs);
        report("HEIC with a 320 px thumbnail", heicThumb, runs);
    }
    report("DNG with a 1600 px preview", dng, runs);
    report("DNG without a preview (developed)", rawOnly, runs);
    return 0;
}
