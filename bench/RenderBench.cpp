// Render speed against the stand-alone synthesizer on the same file and SoundFont: seconds of audio
// made per CPU second of each child, so other load on the machine does not count.
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs a program quietly; the CPU seconds it used, or a negative number when it failed.
double RunTimed(std::vector<std::string> arguments)
{
    const double before = ChildCpuSeconds();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return ChildCpuSeconds() - before;
}

double AudioSeconds(const std::string& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr)
        return 0;
    sf_close(file);
    return static_cast<double>(info.frames) / info.samplerate;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string song = argc > 1 ? argv[1] : "/work/shared/corpus/files/Avgvst_CarnalFear.mid";
    const std::string soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!std::filesystem::exists(soundFont) || RunTimed({"fluidsynth", "--version"}) < 0) {
        std::printf("render benchmark skipped: fluidsynth or %s is missing\n", soundFont.c_str());
        return 0;
    }
    const std::string ours = "render_bench_cantivo.wav";
    const std::string theirs = "render_bench_fluidsynth.wav";
    const double ourCpu = RunTimed({CANTIVO_CLI, "render", song, ours});
    const double theirCpu = RunTimed({"fluidsynth", "-ni", "-F", theirs, "-r", "44100", "-g", "0.2", soundFont, song});
    if (ourCpu < 0 || theirCpu < 0) {
        std::printf("render failed (cantivo-cli %s, fluidsynth %s)\n", ourCpu < 0 ? "failed" : "ok",
                    theirCpu < 0 ? "failed" : "ok");
        return 1;
    }
    const double ourRate = AudioSeconds(ours) / ourCpu;
    const double theirRate = AudioSeconds(theirs) / theirCpu;
    std::printf("%s\n", song.c_str());
    std::printf("cantivo-cli render: %.1f s audio, %.2f CPU s, %.1f audio s per CPU s\n", AudioSeconds(ours), ourCpu,
                ourRate);
    std::printf("fluidsynth:         %.1f s audio, %.2f CPU s, %.1f audio s per CPU s\n", AudioSeconds(theirs),
                theirCpu, theirRate);
    std::printf("fluidsynth rate / ours: %.2fx (target within 1.2x)\n", theirRate / ourRate);
    return 0;
}
