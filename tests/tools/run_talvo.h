// Runs the talvo program as a user would, from the test's working directory.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs the program (after `shell`, a command of the same shell); returns its exit code and what
// it printed on each stream.
inline int Talvo(const std::string& args, std::string* out = nullptr, std::string* err = nullptr,
                 const std::string& shell = "") {
    const std::string cmd = (shell.empty() ? "" : shell + "; exec ") + TALVO_PROGRAM + " " + args +
                            " >cmd.out 2>cmd.err";
    const int status = std::system(cmd.c_str());
    if (out != nullptr) {
        *out = ReadText("cmd.out");
    }
    if (err != nullptr) {
        *err = ReadText("cmd.err");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
