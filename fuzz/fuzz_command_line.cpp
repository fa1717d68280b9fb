// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as the program checks it before any window: AfxPreParseCommandLine over any
// arguments (the input's bytes cut at zero bytes; the first is the program's own name).
//
// It must never crash, and its answers must hang together: -1 (go on) prints nothing, 0 (help or
// version) prints only to standard output, 2 (refused) only to standard error, pointing to --help;
// the same arguments give the same answer; after "--" every argument is a file and one file at
// most is taken; an accepted command line is refused once two more files follow it.
#include "platform/afxwin.h"
#include "resources/resource.h"

#include "expected_log.h"

#include <vector>

namespace {

struct Outcome {
    int code = 0;
    std::string out, err;
    bool operator==(const Outcome&) const = default;
};

// Runs the parser with its standard streams caught (sanitizer reports still reach the real
// standard error: they write to the descriptor).
Outcome Parse(const std::vector<std::string>& args, int expectedCode = 99)
{
    std::vector<std::string> copies = args;   // the parser may neither keep nor change them
    std::vector<char*> argv;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char* buffers[2] = {};
    std::size_t sizes[2] = {};
    FILE* const real[2] = {stdout, stderr};
    stdout = open_memstream(&buffers[0], &sizes[0]);
    stderr = open_memstream(&buffers[1], &sizes[1]);
    Outcome o;
    o.code = AfxPreParseCommandLine(static_cast<int>(copies.size()), argv.data());
    std::fclose(stdout);
    std::fclose(stderr);
    stdout = real[0];
    stderr = real[1];
    o.out.assign(buffers[0], sizes[0]);
    o.err.assign(buffers[1], sizes[1]);
    std::free(buffers[0]);
    std::free(buffers[1]);

    const char* wrong = copies != args ? "the parser changed its arguments"
        : o.code == -1 && !(o.out.empty() && o.err.empty()) ? "an accepted command line printed something"
        : o.code == 0 && (o.out.empty() || !o.err.empty()) ? "help or version did not print to standard output only"
        : o.code == 2 && (!o.out.empty() || o.err.find("--help' for more information.") == std::string::npos)
            ? "a refusal did not print only to standard error with the pointer to --help"
        : o.code != -1 && o.code != 0 && o.code != 2 ? "an answer other than -1, 0 or 2"
        : expectedCode != 99 && o.code != expectedCode ? "after \"--\" or with two more files, a wrong answer"
        : nullptr;
    if (wrong != nullptr) {
        std::string all;
        for (const std::string& a : args)
            all += " [" + a + "]";
        Fail(std::string(wrong) + " (code " + std::to_string(o.code) + "):" + all + "\nstdout: " + o.out + "\nstderr: " + o.err);
    }
    return o;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    CisternInitResources();   // --version names the product from the resources
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
    if (!(Parse(args) == first))
        Fail("the same arguments gave another answer");
    std::vector<std::string> ended{args[0], "--"};
    ended.insert(ended.end(), args.begin() + 1, args.end());
    Parse(ended, args.size() - 1 <= 1 ? -1 : 2);
    if (first.code == -1) {
        args.insert(args.end(), {"extra-file-one", "extra-file-two"});
        Parse(args, 2);
    }
    return 0;
}
