// The import pass over the bench corpus with the catalogue on a Firebird server on this
// machine (a private instance, scripts/fbserver, reached over the loopback interface) beside
// the same pass on the embedded engine, in one run:
//   BM_ServerPass/0  "import --kind both" into a fresh copy of the catalogue, embedded
//   BM_ServerPass/1  the same into a fresh copy opened through the server
//   BM_ServerPass/2  two passes at once through the server into one fresh copy, each over
//                    half of the corpus (the time until both ended)
// Every pass decodes ahead (the program's default). The medians of the ratios of the runs in
// their order (first with first ...) close the run; scripts/bench interleaves the repetitions,
// so that a busy spell of the shared machine falls on all three.
#include "bench/passcorpus.h"
#include "tests/support/catalogue.h"
#include "tests/support/files.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

extern char** environ;

using namespace benchcorpus;
namespace fs = std::filesystem;

namespace {

using testsupport::TTempFolder;

// The private server of this run: started on first use, stopped when the program ends.
class TPrivateServer {
public:
    TPrivateServer()
    {
        FStarted = Control("start") == 0;
        std::ifstream file(FFolder / "env");
        std::string line;
        while (std::getline(file, line))
            if (const std::size_t equals = line.find('='); equals != std::string::npos)
                FValues[line.substr(0, equals)] = line.substr(equals + 1);
        FStarted = FStarted && FValues.count("ISC_PASSWORD") > 0;
        if (FStarted) {
            ::setenv("ISC_USER", FValues["ISC_USER"].c_str(), 1);
            ::setenv("ISC_PASSWORD", FValues["ISC_PASSWORD"].c_str(), 1);
        }
    }
    ~TPrivateServer() { Control("stop"); }
    TPrivateServer(const TPrivateServer&) = delete;
    TPrivateServer& operator=(const TPrivateServer&) = delete;

    bool Started() const { return FStarted; }
    std::string Prefix() const { return FValues.at("FBSERVER_PREFIX"); }

private:
    int Control(const std::string& action) const
    {
        return std::system((IBI_SOURCE_DIR "/scripts/fbserver " + action + " '" + FFolder.Path() + "' >/dev/null").c_str());
    }
    TTempFolder FFolder { "ibi-bench-server" };
    bool FStarted = false;
    std::map<std::string, std::string> FValues;
};

TPrivateServer& Server()
{
    static TPrivateServer server;
    return server;
}

// The catalogue of the corpus (numbers 1 to 5000, no index on "num"), made once per run.
const std::string& Catalogue(const std::string& folder)
{
    static const std::string path = [&] {
        const std::string file = folder + "catalogue.fdb";
        const std::string script = testsupport::CreateCatalogueScript(file)
            + "SET TERM ^ ;\nEXECUTE BLOCK AS DECLARE i INTEGER = 1; BEGIN WHILE (i <= "
            + std::to_string(CatalogueRecords)
            + ") DO BEGIN INSERT INTO MOVIES (\"mid\", \"num\", \"title\") VALUES (2 * :i + 1, :i, 'Title ' || :i);"
            + " i = i + 1; END END^\nSET TERM ; ^\nCOMMIT;\n";
        std::string output;
        return testsupport::RunIsqlScript(script, output) == 0 ? file : std::string();
    }();
    return path;
}

// The corpus in two halves (symbolic links), alternate files in each.
const std::vector<std::string>& Halves(const std::string& folder)
{
    static const std::vector<std::string> halves = [&] {
        std::vector<std::string> made { folder + "half0", folder + "half1" };
        for (const std::string& half : made)
            fs::create_directories(half);
        const std::vector<std::string> files = PassCorpusFiles();
        for (std::size_t i = 0; i < files.size(); ++i)
            fs::create_symlink(files[i], made[i % 2] + "/" + fs::path(files[i]).filename().string());
        return made;
    }();
    return halves;
}

pid_t Start(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        child = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

bool Ended(pid_t child)
{
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Seconds of each mode, by round.
std::map<int, std::vector<double>>& Times()
{
    static std::map<int, std::vector<double>> times;
    return times;
}

void BM_ServerPass(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    static const TTempFolder work("ibi-bench-serverpass");
    if (!Server().Started()) {
        state.SkipWithError("the private Firebird server did not start (scripts/fbserver)");
        return;
    }
    const std::string& catalogue = Catalogue(work.Path());
    if (catalogue.empty()) {
        state.SkipWithError("the catalogue could not be made");
        return;
    }
    for (auto _ : state) {
        const TTempFolder run("ibi-bench-run");
        const std::string copy = run / "catalogue.fdb", thumbs = run / "thumbs";
        fs::copy_file(catalogue, copy);
        const std::string name = mode == 0 ? copy : Server().Prefix() + copy;
        std::vector<std::vector<std::string>> passes;
        const auto pass = [&](const std::string& images) {
            passes.push_back({ ProgramPath(), "import", "--db", name, "--images", images, "--thumbs", thumbs, "--kind", "both" });
        };
        if (mode == 2)
            for (const std::string& half : Halves(work.Path()))
                pass(half);
        else
            pass(PassCorpusFolder());
        const auto start = std::chrono::steady_clock::now();
        std::vector<pid_t> children;
        for (const auto& args : passes)
            children.push_back(Start(args));
        bool succeeded = true;
        for (const pid_t child : children)
            succeeded = Ended(child) && succeeded;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!succeeded) {
            state.SkipWithError("an import failed");
            return;
        }
        state.SetIterationTime(seconds);
        Times()[mode].push_back(seconds);
    }
    state.counters["files_per_s"] = benchmark::Counter(Files, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ServerPass)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const std::vector<double>& embedded = Times()[0];
    for (const int mode : { 1, 2 }) {
        std::vector<double> ratios;
        for (std::size_t i = 0; i < std::min(embedded.size(), Times()[mode].size()); ++i)
            ratios.push_back(Times()[mode][i] / embedded[i]);
        std::cout << (mode == 1 ? "server / embedded: " : "two halves at once on the server / embedded: ")
                  << Median(ratios) << " (median of " << ratios.size() << " runs in order)\n";
    }
    return 0;
}
