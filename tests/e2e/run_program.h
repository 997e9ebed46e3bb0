// Runs the real SETUP binary headless on scratch folders and collects what it printed.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;

struct RunResult {
    int exitStatus = -1;  // -1 when the program did not exit normally (signal, time limit)
    std::string out, err;
};

inline std::string ReadAll(const fs::path& p) {
    return wce::test::ReadFile(p);
}

// A scratch device and medium for one run.
class Scratch {
  public:
    Scratch() {
        fs::create_directories(Device() / "ROMDisk/PROGRAM/TAV");
        fs::create_directories(Device() / "ROMDisk2/PROGRAM/SETAPP");
        fs::create_directories(Medium());
    }

    fs::path Base() const { return base_; }
    fs::path Device() const { return base_ / "device"; }
    fs::path Medium() const { return base_ / "medium"; }

    // Marks a variable of `extra` that the run must not have at all.
    static constexpr const char* kUnset = "\x01unset";

    // Runs the program with the given script (none when empty), extra settings (replacing the
    // scratch folders' own, or kUnset) and arguments. Inherited WCE_ settings are dropped so that
    // every run starts from the same profile.
    RunResult Run(const std::string& script, const std::map<std::string, std::string>& extra = {},
                  const std::vector<std::string>& args = {}) const {
        return Wait(Start(script, extra, args));
    }

    // The same run, started: its process, for Wait.
    pid_t Start(const std::string& script, const std::map<std::string, std::string>& extra = {},
                const std::vector<std::string>& args = {}) const {
        std::map<std::string, std::string> vars{{"WCE_ROOT", Device().string()},
                                                {"WCE_MEDIUM", Medium().string()},
                                                {"WCE_DISPLAY", "headless"}};
        if (!script.empty()) {
            std::ofstream(base_ / "script.txt") << script;
            vars["WCE_SCRIPT"] = (base_ / "script.txt").string();
        }
        for (const auto& [k, v] : extra) vars[k] = v;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("WCE_", 0) != 0 && !vars.count(entry.substr(0, entry.find('='))))
                env.push_back(entry);
        }
        for (const auto& [k, v] : vars)
            if (v != kUnset) env.push_back(k + "=" + v);
        return Spawn(env, args);
    }

    RunResult Wait(pid_t pid) const {
        int status = 0;
        waitpid(pid, &status, 0);
        RunResult r;
        r.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = ReadAll(base_ / "stdout.txt");
        r.err = ReadAll(base_ / "stderr.txt");
        return r;
    }

  private:
    pid_t Spawn(const std::vector<std::string>& env, const std::vector<std::string>& args) const {
        const fs::path out = base_ / "stdout.txt", err = base_ / "stderr.txt";
        std::vector<char*> envp;
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            alarm(60);  // a hung program fails its test instead of the whole run
            std::vector<char*> argv{const_cast<char*>(SETUP_BINARY)};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execve(SETUP_BINARY, argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }

    wce::test::ScratchFolder folder_;
    fs::path base_ = folder_.path();
};

// Lines of text starting with prefix.
inline std::vector<std::string> LinesStartingWith(const std::string& text,
                                                  const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    return lines;
}

// The bundled sample medium, copied into the scratch medium folder.
inline void CopySampleMedium(const Scratch& s) {
    std::filesystem::copy(std::filesystem::path(SOURCE_DIR) / "examples/medium", s.Medium(),
                          std::filesystem::copy_options::recursive);
}

}  // namespace e2e
