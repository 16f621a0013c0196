// Runs the built quenfell binary and captures its standard output, standard error and status.
#pragma once

#include <string>
#include <vector>

struct RunResult {
    std::string out;
    std::string err;
    int status;   // exit status, or 128 + signal number
};

// Runs quenfell with args (not including the program name) in the given time zone; standard input
// is empty. cwd, when not empty, is the working directory.
RunResult RunQuenfell(const std::vector<std::string>& args, const std::string& tz = "UTC",
                      const std::string& cwd = "");
// The genlog tool of the same build tree (the tools folder sits beside src), or "" when unknown.
std::string PathGenlog();
// Runs any program the same way (argv[0] is the path).
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& tz = "UTC",
                     const std::string& cwd = "");
// argv or envp for execve: pointers to the texts (which must outlive the array), then null.
std::vector<char*> RgpszOf(const std::vector<std::string>& rgstr);
