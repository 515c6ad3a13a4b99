// The conversion the benchmarks measure, and a way to run it in a child process of the program
// so that its peak memory is its own.
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QString>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "conversion/offline_capture.h"
#include "engine/library_loader.h"
#include "formats/core/formats_core.h"

namespace qm::bench {

inline double Seconds(const timeval& user, const timeval& system) {
    return double(user.tv_sec + system.tv_sec) + double(user.tv_usec + system.tv_usec) / 1e6;
}

inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime, usage.ru_stime);
}

// The whole machine's processor time and the idle part of it so far (all cores, in seconds), to
// tell a run whose threads waited from one that other programs kept off the cores.
struct MachineTime {
    double busy = 0, idle = 0;
};
inline MachineTime ReadMachineTime() {
    MachineTime t;
    FILE* stat = std::fopen("/proc/stat", "r");
    if (!stat) return t;
    unsigned long long v[8] = {};
    if (std::fscanf(stat, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                    &v[6], &v[7]) == 8) {
        const double tick = double(sysconf(_SC_CLK_TCK));
        t.idle = double(v[3] + v[4]) / tick;  // idle and waiting for the disk
        t.busy = double(v[0] + v[1] + v[2] + v[5] + v[6] + v[7]) / tick;
    }
    std::fclose(stat);
    return t;
}

// Loads the engine beside the program and the catalogue's default profile.
inline bool PrepareConversion() {
    engine::FFLoader().SetLibraryPath(engine::ProgramLibraryFolder());
    if (!engine::FFLoader().LoadLibs(engine::AllLibraries)) {
        std::printf("engine not loaded: %s\n", engine::FFLoader().LastError().c_str());
        return false;
    }
    formats::SetProgramDir(QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    formats::LoadFormatFile(formats::BuiltInFormatFileName(), formats::BuiltInFormats);
    if (!formats::OptionsFromFormat(formats::CurrentOptions, formats::DefaultFormatID)) {
        std::printf("the catalogue %s has no default format\n", qPrintable(formats::BuiltInFormatFileName()));
        return false;
    }
    return true;
}

// The job the conversion window would make of the movie with the current options.
inline bool PrepareJob(const QString& movie, formats::TFileOption& job) {
    QString error;
    if (!conversion::ReadMovieInfo(movie, job.SWFInfo, error)) {
        std::printf("cannot read %s: %s\n", qPrintable(movie), qPrintable(error));
        return false;
    }
    formats::ClearOptions(job.Options);
    job.Options.SourceSize = QStringLiteral("%1x%2").arg(job.SWFInfo.Width).arg(job.SWFInfo.Height);
    job.Options.OutFileName = QStringLiteral("bench");
    formats::PrepareFileOption(job);
    return true;
}

// Converts the movie with the default profile at the resolution through the offline capture
// and prints one line (without its end, which the parent adds): speed, processor time and the
// bound two idle cores would give. frameLimit 0: the whole movie.
inline bool ConvertOnce(const char* title, const QString& movie, const QString& output, int workers,
                        const QString& resolution, int64_t frameLimit) {
    formats::CurrentOptions.Resolution = resolution;
    formats::TFileOption job;
    if (!PrepareJob(movie, job)) return false;
    conversion::OfflineCapture capture(job, output,
                                       conversion::CaptureLimits{conversion::EndRule::LastFrame, frameLimit});
    capture.SetRenderWorkers(workers);
    const double cpuBefore = CpuSeconds();
    const MachineTime machineBefore = ReadMachineTime();
    const auto start = std::chrono::steady_clock::now();
    const conversion::CaptureResult r = capture.Run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    const MachineTime machineAfter = ReadMachineTime();
    // Counted in ticks of 10 ms: rough for a short run, telling for a long one.
    const double idle = machineAfter.idle - machineBefore.idle;
    const double others = std::max(0.0, machineAfter.busy - machineBefore.busy - cpu);
    if (!r.Succeeded) {
        std::printf("%-8s %-9s failed: %s", title, qPrintable(resolution), qPrintable(r.Error));
        return false;
    }
    const double seconds = double(r.Duration) / 1e6;
    // Other programs on a shared machine slow the wall clock; the processor time says what two
    // otherwise idle cores could reach at best.
    const double bound = seconds / std::max(cpu / 2, 1e-9);
    std::printf("%-8s %-9s %-8s %6lld frames  %7.2f s of movie in %7.2f s: %5.2fx real time  (processor %.2f s, "
                "%.2f s of it rendering, %.2f of wall: at most %.2fx on two idle cores; meanwhile the cores were idle "
                "%.2f of wall and other programs ran %.2f)",
                title, qPrintable(resolution), workers == 1 ? "1 worker" : "per core", static_cast<long long>(r.Frames),
                seconds, wall, seconds / wall, cpu, r.RenderSeconds, cpu / std::max(wall, 1e-9), bound,
                idle / std::max(wall, 1e-9), others / std::max(wall, 1e-9));
    for (const QString& warning : r.Warnings) std::printf(" [%s]", qPrintable(warning));
    return true;
}

struct ChildResult {
    bool succeeded = false;
    double peakMiB = 0;
};

// Runs this program again with the arguments and waits for it: its exit and its own peak memory.
inline ChildResult RunSelf(const std::vector<std::string>& arguments) {
    std::fflush(stdout);
    std::vector<char*> argv;
    static char self[] = "/proc/self/exe";
    argv.push_back(self);
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        execv(self, argv.data());
        _exit(127);
    }
    ChildResult result;
    rusage usage{};
    int status = 0;
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return result;
    result.succeeded = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return result;
}

// The parent's side of ConvertOnce: the child converts and this adds its peak memory.
inline ChildResult ConvertInChild(const char* title, const QString& movie, const QString& output, int workers,
                                  const QString& resolution, int64_t frameLimit = 0) {
    const ChildResult r = RunSelf({"--convert", title, movie.toStdString(), output.toStdString(), std::to_string(workers),
                                   resolution.toStdString(), std::to_string(frameLimit)});
    std::printf("; peak memory %.1f MiB%s\n", r.peakMiB, r.succeeded ? "" : " (failed)");
    std::fflush(stdout);
    return r;
}

// The child's side: "--convert TITLE MOVIE OUTPUT WORKERS RESOLUTION FRAMES"; the exit code.
inline int ConvertChildMain(int argc, char** argv) {
    if (argc < 8) return 2;
    if (!PrepareConversion()) return 1;
    const bool ok = ConvertOnce(argv[2], QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
                                std::atoi(argv[5]), QString::fromLocal8Bit(argv[6]), std::atoll(argv[7]));
    std::fflush(stdout);
    return ok ? 0 : 1;
}

}  // namespace qm::bench
