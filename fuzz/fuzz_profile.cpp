// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file as the program reads and writes it: any bytes in Sumpwell.ini, then the
// Connect section's values read as text and as numbers, written back and read again.
//
// Reading garbage must not crash or unpack anything (values are text); a number is the decimal
// number its text starts with (the old INI readers' rule); whatever the file held, a write
// succeeds, leaves the other value alone, and reads back the same (text as UTF-8 makes it).
#include "platform/afxwin.h"

#include "expected_log.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>

namespace {

CWinApp* g_app = nullptr;
QTemporaryDir* g_dir = nullptr;
const char kMissing[] = "\x01(missing)";

// Optional blanks, an optional sign, decimal digits; false when there are too many digits for an
// int to be sure of the answer.
bool LeadingNumber(const std::string& text, int& value)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    i += i < text.size() && (text[i] == '+' || text[i] == '-');
    long long v = 0;
    for (std::size_t digits = 0; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (++digits > 9)
            return false;
        v = v * 10 + (text[i] - '0');
    }
    value = static_cast<int>(negative ? -v : v);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    static int qargc = 1;
    static char* qargv[] = {(*argv)[0], nullptr};
    new QCoreApplication(qargc, qargv);
    g_dir = new QTemporaryDir;
    std::atexit([] { delete g_dir; });   // libFuzzer leaves by exit(): the folder goes with it
    g_app = new CWinApp("fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const int number = in.ConsumeIntegral<int>();
    const std::string written = in.ConsumeRandomLengthString(200);
    const std::string file = in.ConsumeRemainingBytesAsString();

    // Qt reads a file again only when its size or time changed: each input's file gets its own time.
    static long serial = 1000000;
    const QString path = g_dir->filePath(QStringLiteral("Sumpwell.ini"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file.data(), qint64(file.size())) != qint64(file.size()))
        Fail("could not write the settings file");
    f.close();
    const timespec times[2] = {{++serial, 0}, {serial, 0}};
    if (::utimensat(AT_FDCWD, path.toLocal8Bit().constData(), times, 0) != 0)
        Fail("could not set the settings file's time");
    afxtest::SetProfilePath(path.toStdString());

    for (const char* key : {"Protocol", "Port"}) {
        const std::string text = g_app->GetProfileString("Connect", key, kMissing);
        const int value = g_app->GetProfileInt("Connect", key, -77);
        int expected = 0;
        // Missing when a second default comes back too: a stored text may equal the first.
        if (text == kMissing && g_app->GetProfileString("Connect", key, "\x02") == "\x02") {
            if (value != -77)
                Fail(std::string(key) + ": a missing value did not read as the default");
        } else if (LeadingNumber(text, expected) && value != expected) {
            Fail(std::string(key) + ": text \"" + text + "\" read as the number " + std::to_string(value));
        }
    }

    const std::string protocolBefore = g_app->GetProfileString("Connect", "Protocol", kMissing);
    if (!g_app->WriteProfileString("Connect", "Port", written.c_str()))
        Fail("could not write the port");
    if (g_app->GetProfileString("Connect", "Protocol", kMissing) != protocolBefore)
        Fail("writing the port changed the protocol's text \"" + protocolBefore + "\"");
    const std::string want = QString::fromUtf8(written.c_str()).toUtf8().toStdString();   // C string, through Qt
    if (const std::string port = g_app->GetProfileString("Connect", "Port", kMissing); port != want)
        Fail("wrote the port \"" + want + "\", read back \"" + port + "\"");
    if (!g_app->WriteProfileInt("Connect", "Protocol", number) || g_app->GetProfileInt("Connect", "Protocol", -77) != number)
        Fail("wrote the protocol " + std::to_string(number) + ", did not read it back");
    return 0;
}
