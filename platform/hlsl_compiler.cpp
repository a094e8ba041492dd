// Compiles effect shaders through the helper program, one run per compile, with a time limit.
#include "platform/hlsl_compiler.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/effect_compile_frames.h"
#include "platform/file_read.h"
#include "platform/program_files.h"
#include "platform/utf16_text.h"

extern char** environ;

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

// Effect files are kilobytes; the compiler takes a source's length as an int.
constexpr std::size_t kMaxSourceBytes = std::size_t{16} << 20;

// Editors on Windows save with a byte-order mark, often in UTF-16; the compiler
// reads UTF-8 only, and a mark would be a stray token to it.
std::string SourceAsUtf8(std::string_view source) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(source[i]); };
    if (source.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        return std::string(source.substr(3));
    }
    const bool little = source.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    const bool big = source.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    if (!little && !big) {
        return std::string(source);
    }
    std::u16string text;
    text.reserve(source.size() / 2);
    for (std::size_t i = 2; i + 1 < source.size(); i += 2) {
        text +=
            static_cast<char16_t>(little ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1));
    }
    return ToUtf8(text);
}

// A running helper and our ends of its standard input and output.
struct Helper {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
};

void CloseIfOpen(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Starts the program with fresh descriptors as its stdin and stdout; returns
// 0 or an errno value. Every descriptor is close-on-exec, so no other child
// started meanwhile inherits one. The input is a socket so that writing to a
// helper that stopped reading fails with EPIPE instead of raising SIGPIPE.
int StartHelper(const std::filesystem::path& program, Helper& helper) {
    int input[2], output[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
        return errno;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(input[0]);
        ::close(input[1]);
        return error;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    // The helper starts with no blocked signals and a default SIGPIPE,
    // whatever this process set for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, reset;
    sigemptyset(&none);
    sigemptyset(&reset);
    sigaddset(&reset, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &reset);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const std::string path = program.string();
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const int error =
        ::posix_spawn(&helper.pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    helper.input = input[1];
    helper.output = output[0];
    if (error != 0) {
        CloseIfOpen(helper.input);
        CloseIfOpen(helper.output);
        helper.pid = -1;
    }
    return error;
}

enum class Exchange { Answered, TimedOut, Overflowed, Broken };

// Writes the request while reading the answer, so that neither side waits on a
// full pipe, until the helper closes its output or the deadline passes.
Exchange Converse(Helper& helper, std::string_view request, std::string& answer,
                  Clock::time_point deadline) {
    std::size_t sent = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return Exchange::TimedOut;
        }
        pollfd waits[2] = {{helper.output, POLLIN, 0}, {helper.input, POLLOUT, 0}};
        const int ready = ::poll(waits, helper.input >= 0 ? 2 : 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            return Exchange::Broken;
        }
        if (ready <= 0) {
            continue;
        }
        if (helper.input >= 0 && waits[1].revents != 0) {
            const ssize_t n = ::send(helper.input, request.data() + sent, request.size() - sent,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            sent += n > 0 ? static_cast<std::size_t>(n) : 0;
            // Done, or the helper stopped reading: its answer or its exit says why.
            if (sent == request.size() ||
                (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                CloseIfOpen(helper.input);
            }
        }
        if (waits[0].revents != 0) {
            char chunk[65536];
            const ssize_t n = ::read(helper.output, chunk, sizeof chunk);
            if (n == 0) {
                return Exchange::Answered;
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return Exchange::Broken;
            }
            answer.append(chunk, static_cast<std::size_t>(n));
            if (answer.size() > kMaxEffectFrameBytes) {
                return Exchange::Overflowed;
            }
        }
    }
}

// Reaps the helper, killing it first when told to or when it outlives the
// deadline. Returns whether its wait status is known: a process that ignores
// SIGCHLD has its children reaped for it.
bool Reap(pid_t pid, Clock::time_point deadline, bool killNow, bool& killed, int& status) {
    auto pause = std::chrono::milliseconds(1);
    while (!killNow && Clock::now() < deadline) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return true;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    killed = true;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

std::string LimitText(std::chrono::milliseconds limit) {
    return limit.count() % 1000 == 0 ? std::to_string(limit.count() / 1000) + " seconds"
                                     : std::to_string(limit.count()) + " milliseconds";
}

// The file's compile error for a helper that did not answer as it should.
std::string Failure(std::string_view name, Exchange exchange, bool statusKnown, int status,
                    const HlslCompilerProcess& process, std::size_t answerBytes) {
    const std::string file(name);
    if (exchange == Exchange::TimedOut) {
        return file + ": the shader compiler gave no answer in " + LimitText(process.timeLimit) +
               "\n";
    }
    if (exchange == Exchange::Overflowed) {
        return file + ": the shader compiler's answer is larger than " +
               std::to_string(kMaxEffectFrameBytes) + " bytes\n";
    }
    if (statusKnown && (WIFSIGNALED(status) || WEXITSTATUS(status) != 0)) {
        // A crash handler (a sanitizer's, say) may turn the signal into an exit code.
        const std::string how = WIFSIGNALED(status)
                                    ? std::string(strsignal(WTERMSIG(status)))
                                    : "exit code " + std::to_string(WEXITSTATUS(status));
        return file + ": the shader compiler crashed on this file (" + how +
               "); check it for unfinished code\n";
    }
    if (answerBytes == 0 || exchange == Exchange::Broken) {
        return file + ": the shader compiler ended without an answer\n";
    }
    return file + ": the shader compiler's answer cannot be read (" + std::to_string(answerBytes) +
           " bytes)\n";
}

HlslCompileResult CompileInHelper(const EffectCompileRequest& request,
                                  const HlslCompilerProcess& process) {
    HlslCompileResult result;
    std::string looked;
    const std::filesystem::path program =
        process.program.empty() ? FindEffectCompiler(&looked) : process.program;
    if (program.empty()) {
        result.messages = request.name + ": the effect compiler program " + kEffectCompilerProgram +
                          " was not found (looked at " + looked + ")\n";
        return result;
    }
    Helper helper;
    if (const int error = StartHelper(program, helper); error != 0) {
        result.messages = request.name + ": cannot start the shader compiler " + program.string() +
                          " (" + std::strerror(error) + ")\n";
        return result;
    }
    const auto deadline = Clock::now() + process.timeLimit;
    std::string answer;
    Exchange exchange = Converse(helper, EncodeEffectRequest(request), answer, deadline);
    CloseIfOpen(helper.input);
    CloseIfOpen(helper.output);
    bool killed = false;
    int status = 0;
    const bool statusKnown =
        Reap(helper.pid, deadline, exchange != Exchange::Answered, killed, status);
    if (killed && exchange == Exchange::Answered) {
        exchange = Exchange::TimedOut;  // answered, then hung instead of ending
    }
    const bool exitedWell = !statusKnown || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (exchange == Exchange::Answered && exitedWell && DecodeEffectAnswer(answer, result)) {
        return result;
    }
    result = {};
    result.messages = Failure(request.name, exchange, statusKnown, status, process, answer.size());
    return result;
}

}  // namespace

std::filesystem::path FindEffectCompiler(std::string* looked,
                                         const std::filesystem::path& programFolder) {
    if (const char* chosen = std::getenv(kEffectCompilerVariable); chosen && *chosen != '\0') {
        return chosen;
    }
    std::vector<std::filesystem::path> places;
    if (!programFolder.empty()) {
        places.push_back(programFolder / kEffectCompilerProgram);
        places.push_back(InstalledHelperFolder(programFolder) / kEffectCompilerProgram);
    }
#ifdef QV_EFFECT_COMPILER_IN_BUILD
    // Programs run from the build tree, tests among them, find the one built with them.
    if (const std::filesystem::path build = BuildFolderAbove(programFolder); !build.empty()) {
        places.push_back(build / QV_EFFECT_COMPILER_IN_BUILD);
    }
#endif
    for (const auto& place : places) {
        if (::access(place.c_str(), X_OK) == 0) {
            return place;
        }
        if (looked != nullptr) {
            *looked += (looked->empty() ? "" : ", ") + place.string();
        }
    }
    return {};
}

HlslCompileResult CompileHlsl(std::string_view source, std::string_view name,
                              std::string_view entryPoint, HlslStage stage,
                              const std::filesystem::path& includeFolder,
                              const HlslCompilerProcess& process) {
    if (source.size() > kMaxSourceBytes) {
        HlslCompileResult result;
        result.messages = std::string(name) + ": the source is " + std::to_string(source.size()) +
                          " bytes, more than an effect shader may be (" +
                          std::to_string(kMaxSourceBytes) + ")\n";
        return result;
    }
    EffectCompileRequest request;
    request.stage = stage;
    request.entryPoint = entryPoint;
    request.name = name;
    request.includeFolder = includeFolder.string();
    request.source = SourceAsUtf8(source);
    return CompileInHelper(request, process);
}

HlslCompileResult CompileHlslFile(const std::filesystem::path& path, std::string_view entryPoint,
                                  HlslStage stage) {
    std::vector<std::uint8_t> bytes;
    if (Failed(ReadWholeFile(path, bytes))) {
        HlslCompileResult result;
        result.messages = path.string() + ": cannot open the file\n";
        return result;
    }
    const std::string source(bytes.begin(), bytes.end());
    return CompileHlsl(source, path.string(), entryPoint, stage, path.parent_path());
}

}  // namespace qv
