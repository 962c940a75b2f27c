#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace orvex {

// orvex-sim as a child process on a pseudo-terminal, so that its memory and
// threads stay out of the figures of the process under measurement. The
// first line the simulator prints is the slave path.
class CSimProcess {
public:
    CSimProcess() = default;
    ~CSimProcess();
    CSimProcess(const CSimProcess&) = delete;
    CSimProcess& operator=(const CSimProcess&) = delete;

    // Starts `program` with `arguments` and waits (5 s at most) for the
    // slave path. False with Error() set when anything fails.
    bool Start(const std::string& program, const std::vector<std::string>& arguments);
    // SIGTERM, then SIGKILL if it has not ended within 3 s. Idempotent.
    void Stop();
    // Writes a control line to the simulator's standard input and returns
    // the first line of its output, from here on, that contains `expected`
    // (empty after 5 s without one).
    std::string Ask(const std::string& line, const std::string& expected);

    const std::string& SlavePath() const { return m_slavePath; }
    const std::string& Error() const { return m_error; }
    pid_t Pid() const { return m_pid; }

    // orvex-sim beside the running program (both live in build/bin).
    static std::string BesideThisProgram(const std::string& name);

private:
    pid_t m_pid { -1 };
    int m_output { -1 }; // reads the child's standard output
    int m_input { -1 };  // the child's standard input, held open and silent
    std::string m_unread; // output read past the last line taken
    std::string m_slavePath;
    std::string m_error;
};

} // namespace orvex
