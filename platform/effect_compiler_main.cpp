// The effect-compiler helper: one compile per run, request on stdin, answer on stdout.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>

#include "platform/hlsl_glslang.h"

namespace {

bool ReadAll(int fd, std::string& bytes) {
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() > qv::kMaxEffectFrameBytes) {
            return false;
        }
    }
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main() {
    // The answer gets a descriptor of its own, and anything the library prints
    // goes to stderr: a stray line on stdout would corrupt the frame.
    const int answerFd = ::dup(STDOUT_FILENO);
    if (answerFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("qv-effect-compiler: cannot set up its output");
        return 3;
    }
    std::string input;
    qv::EffectCompileRequest request;
    if (!ReadAll(STDIN_FILENO, input) || !qv::DecodeEffectRequest(input, request)) {
        std::fputs("qv-effect-compiler: standard input is not one compile request\n", stderr);
        return 2;
    }
    qv::HlslCompileResult result;
    try {
        result = qv::CompileHlslInThisProcess(request);
    } catch (const std::exception& e) {
        result = {};
        result.messages = request.name + ": the shader compiler failed (" + e.what() + ")\n";
    }
    return WriteAll(answerFd, qv::EncodeEffectAnswer(result)) ? 0 : 3;
}
