// The command line as the program checks it before any window: AfxPreParseCommandLine over any
// arguments (the input's bytes cut at zero bytes; the first is the program's own name).
//
// It must never crash, and its answers must hang together: -1 (go on) says nothing, 0 (help or
// version) writes only to standard output, 2 (refused) writes only to standard error and points
// to --help; the same arguments give the same answer; after "--" every argument is a file, and
// only one file may be given, so "--" with two or more arguments is refused and with one or none
// is not; a command line that was accepted is refused once two more files follow it.
#include "platform/afxwin.h"
#include "resources/resource.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int code = 0;
    std::string out;
    std::string err;
    bool operator==(const Outcome&) const = default;
};

std::string Drain(FILE* f, char*& buffer, std::size_t& size)
{
    std::fclose(f);
    std::string text(buffer, size);
    std::free(buffer);
    buffer = nullptr;
    return text;
}

// Runs the parser with its standard streams caught (sanitizer reports still go to the real
// standard error: they write to the descriptor, not through these streams).
Outcome Parse(const std::vector<std::string>& args)
{
    std::vector<std::string> copies = args;   // the parser may not keep or change them
    std::vector<char*> argv;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    char* outBuf = nullptr;
    char* errBuf = nullptr;
    std::size_t outSize = 0;
    std::size_t errSize = 0;
    FILE* const realOut = stdout;
    FILE* const realErr = stderr;
    stdout = open_memstream(&outBuf, &outSize);
    stderr = open_memstream(&errBuf, &errSize);
    Outcome o;
    o.code = AfxPreParseCommandLine(static_cast<int>(copies.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    FILE* const caughtOut = stdout;
    FILE* const caughtErr = stderr;
    stdout = realOut;
    stderr = realErr;
    o.out = Drain(caughtOut, outBuf, outSize);
    o.err = Drain(caughtErr, errBuf, errSize);
    for (std::size_t i = 0; i < args.size(); ++i)
        if (copies[i] != args[i])
            std::abort();
    return o;
}

[[noreturn]] void Fail(const char* what, const std::vector<std::string>& args, const Outcome& o)
{
    std::fprintf(stderr, "fuzz_command_line: %s (code %d, %zu arguments)\n", what, o.code, args.size());
    for (const std::string& a : args)
        std::fprintf(stderr, "  [%s]\n", a.c_str());
    std::fprintf(stderr, "stdout: %s\nstderr: %s\n", o.out.c_str(), o.err.c_str());
    std::abort();
}

void CheckShape(const std::vector<std::string>& args, const Outcome& o)
{
    switch (o.code) {
    case -1:
        if (!o.out.empty() || !o.err.empty())
            Fail("an accepted command line printed something", args, o);
        break;
    case 0:
        if (o.out.empty() || !o.err.empty())
            Fail("help or version did not print only to standard output", args, o);
        break;
    case 2:
        if (!o.out.empty() || o.err.find("--help' for more information.") == std::string::npos)
            Fail("a refusal did not print only to standard error with the pointer to --help", args, o);
        break;
    default:
        Fail("an answer other than -1, 0 or 2", args, o);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CisternInitResources();   // --version names the product from the version block
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }

    const Outcome first = Parse(args);
    CheckShape(args, first);
    if (!(Parse(args) == first))
        Fail("the same arguments gave another answer", args, first);

    // After "--" every argument is a file, and one file at most is taken.
    std::vector<std::string> ended{args[0], "--"};
    ended.insert(ended.end(), args.begin() + 1, args.end());
    const Outcome afterEnd = Parse(ended);
    CheckShape(ended, afterEnd);
    if (afterEnd.code != (args.size() - 1 <= 1 ? -1 : 2))
        Fail("after \"--\" the files were not counted as files", ended, afterEnd);

    // An accepted command line holds at most one file: with two more, it is refused.
    if (first.code == -1) {
        std::vector<std::string> more = args;
        more.push_back("extra-file-one");
        more.push_back("extra-file-two");
        const Outcome o = Parse(more);
        CheckShape(more, o);
        if (o.code != 2)
            Fail("two more files after an accepted command line were not refused", more, o);
    }
    return 0;
}
