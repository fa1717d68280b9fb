#pragma once
// Where each line of a byte buffer starts, kept in step with the buffer as it changes.
//
// Only the offsets just after each line feed are stored (line 0 always starts at 0), eight bytes a
// line. Appending scans only the new bytes.
#include <QList>
#include <QtGlobal>

class LogLineIndex {
public:
    void clear();
    // Forgets everything and indexes data[0, size) in one pass.
    void rebuild(const char* data, qint64 size);
    // The bytes data[0, length) now sit at offset `at`, the former end of the buffer.
    void appended(qint64 at, const char* data, qint64 length);

    qint64 lineCount() const { return m_starts.size() + 1; }
    qint64 lineStart(qint64 line) const { return line <= 0 ? 0 : m_starts[line - 1]; }
    // Where the line ends: its line feed, or bufferSize for the last line.
    qint64 lineEnd(qint64 line, qint64 bufferSize) const;
    // The line that holds byte `offset` (an offset at or past the end gives the last line).
    qint64 lineOf(qint64 offset) const;

private:
    QList<qint64> m_starts;  // grows by realloc, see loggrowth.h
};
