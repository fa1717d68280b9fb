// The settings file as the program reads and writes it: any bytes in Sumpwell.ini, then the
// Connect section's values read as text and as numbers, and written back and read again.
//
// Reading garbage must not crash or unpack anything (values are text); a number is read as the
// decimal number its text starts with (the old INI readers' atoi rule), so the number read agrees
// with the text read; whatever the file held, a write succeeds, leaves the other values as they
// were, and whatever text is written (as UTF-8) reads back the same, and so does any number.
#include "platform/afxwin.h"

#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

QCoreApplication* g_qapp = nullptr;
CWinApp* g_app = nullptr;
QTemporaryDir* g_dir = nullptr;
unsigned long g_serial = 0;

const char kMissing[] = "\x01(missing)";
const char kMissingToo[] = "\x02(missing)";

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz_profile: %s\n", what.c_str());
    std::abort();
}

// The number an old INI reader takes from text: optional blanks, an optional sign, decimal
// digits; nothing when there are too many digits for an int to be sure of the answer.
bool LeadingNumber(const std::string& text, int& value)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long v = 0;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (++digits > 9)
            return false;
        v = v * 10 + (text[i++] - '0');
    }
    value = static_cast<int>(negative ? -v : v);
    return true;
}

// What a UTF-8 text is after a trip through Qt's strings (bad sequences become U+FFFD).
std::string Normalised(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    static int qargc = 1;
    static char* qargv[] = {(*argv)[0], nullptr};
    g_qapp = new QCoreApplication(qargc, qargv);
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

    // Qt keeps what it read of a file by its name, and reads it again only when its size or time
    // changed: each input's file gets a time of its own.
    const QString path = g_dir->filePath(QStringLiteral("Sumpwell.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || f.write(file.data(), static_cast<qint64>(file.size())) != static_cast<qint64>(file.size()))
            Fail("could not write the settings file");
    }
    const timespec times[2] = {{static_cast<time_t>(1000000 + ++g_serial), 0},
                               {static_cast<time_t>(1000000 + g_serial), 0}};
    if (::utimensat(AT_FDCWD, path.toLocal8Bit().constData(), times, 0) != 0)
        Fail("could not set the settings file's time");
    afxtest::SetProfilePath(path.toStdString());

    // Whatever the file holds: the number agrees with the text it is read from.
    for (const char* key : {"Protocol", "Port"}) {
        const std::string text = g_app->GetProfileString("Connect", key, kMissing);
        const int value = g_app->GetProfileInt("Connect", key, -77);
        int expected = 0;
        // Missing when two different defaults both come back: a stored text may equal either.
        if (text == kMissing && g_app->GetProfileString("Connect", key, kMissingToo) == kMissingToo) {
            if (value != -77)
                Fail(std::string(key) + ": a missing value did not read as the default");
        } else if (LeadingNumber(text, expected) && value != expected) {
            Fail(std::string(key) + ": text \"" + text + "\" read as the number " + std::to_string(value));
        }
    }
    (void)g_app->GetProfileString("", "", "");
    (void)g_app->GetProfileInt("\xff", "=", 0);

    // Written, then read back the same; the rest of the garbage does not get in the way.
    const std::string protocolBefore = g_app->GetProfileString("Connect", "Protocol", kMissing);
    if (!g_app->WriteProfileString("Connect", "Port", written.c_str()))
        Fail("could not write the port");
    if (g_app->GetProfileString("Connect", "Protocol", kMissing) != protocolBefore)
        Fail("writing the port changed the protocol's text \"" + protocolBefore + "\"");
    const std::string port = g_app->GetProfileString("Connect", "Port", kMissing);
    const std::string want = Normalised(written.c_str());   // the program passes C strings
    if (port != want)
        Fail("wrote the port \"" + want + "\", read back \"" + port + "\"");
    if (!g_app->WriteProfileInt("Connect", "Protocol", number))
        Fail("could not write the protocol");
    const int protocol = g_app->GetProfileInt("Connect", "Protocol", -77);
    if (protocol != number)
        Fail("wrote the protocol " + std::to_string(number) + ", read back " + std::to_string(protocol));

    return 0;
}
