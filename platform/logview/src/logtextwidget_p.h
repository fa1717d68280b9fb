// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The log widget's own state: where the view is placed, the lines laid out in it, the selection,
// and the repaint pacing. Only logtextwidget.cpp includes it.
#include "platform/logdocument.h"
#include "platform/logtextwidget.h"

#include "loglinelayout.h"
#include "logtextdecode.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace logview {

constexpr int kMargin = 4;  // pixels left of the text (and right of it when wrapping)

int toScrollValue(qint64 v) { return int(std::clamp<qint64>(v, 0, INT_MAX)); }

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c.isSurrogate(); }

QString megabytes(qint64 bytes) { return QString::number(double(bytes) / 1e6, 'f', 0); }

} // namespace logview

using namespace logview;

// How the view is placed: from a line downwards, up from a line, or up from the end of the text
// (following it as it grows).
enum class Anchor { Top, Bottom, End };

struct CLogTextWidget::Impl {
    Impl(CLogTextWidget* owner, const LogDocument& log) : q(owner), doc(log) {}

    CLogTextWidget* q;
    const LogDocument& doc;
    qint64 anchor = 0;  // the selection's fixed end
    qint64 caret = 0;   // its moving end
    bool wrap = false;
    bool dragging = false;

    Anchor placement = Anchor::Top;
    qint64 placementLine = 0;
    bool caretScrollPending = false;
    bool viewDirty = true;
    quint64 generation = 0;
    std::vector<std::unique_ptr<LogLineLayout>> shown;  // the lines in view, top to bottom
    std::vector<std::unique_ptr<LogLineLayout>> endLayouts;  // the last screenful, for the scroll range
    qint64 topLine = 0;      // first line whose top is in view
    int widestLine = 0;      // widest line laid out since the text or font last changed
    bool syncingScrollBars = false;
    bool repaintPending = false;  // a paint was asked for and has not happened yet
    bool scrollBarsStale = true;  // the scroll bars lag behind the text or the view
    bool grewSincePaint = false;  // the log grew since the last paint
    bool grewBeforePaint = false; // it grew between the two last paints
    QElapsedTimer lastPaint;
    QTimer* frameTimer = nullptr;  // single shot: the repaint put off to the end of the frame
    QTimer* scrollBarTimer = nullptr;  // single shot, zero time: brings the scroll bars up to date after a paint
    qint64 size() const { return doc.size(); }
    qint64 lastLine() const { return doc.lineCount() - 1; }
    qint64 selStart() { followAppends(); return std::min(anchor, caret); }
    qint64 selEnd() { followAppends(); return std::max(anchor, caret); }
    int rowHeight() const { return std::max(1, q->fontMetrics().lineSpacing()); }
    int viewHeight() const { return q->viewport()->height(); }
    int wrapWidth() const { return wrap ? std::max(1, q->viewport()->width() - 2 * kMargin) : 0; }
    qreal textLeft() const { return kMargin - (wrap ? 0 : q->horizontalScrollBar()->value()); }

    // ---- changes ------------------------------------------------------------------------------
    // Asks for a repaint. However many changes come in, the screen catches up at most once a frame:
    // a change soon after a paint waits (on a single-shot timer) for the frame to end. While the
    // log grows from one paint to the next (a flood), a paint comes every other frame: the text
    // runs past too fast to read either way, and the window's thread has the time for the intake.
    void requestPaint()
    {
        if (repaintPending)
            return;
        repaintPending = true;
        const int frames = grewBeforePaint ? 2 : 1;
        const qint64 wait = lastPaint.isValid() ? frames * frameMs() - lastPaint.elapsed() : 0;
        if (wait > 0)
            frameTimer->start(int(wait));
        else
            updateNow();
    }
    void updateNow()
    {
        q->viewport()->update();
        repaintPending = q->viewport()->isVisible();  // a hidden widget drops the request
    }
    int frameMs() const
    {
        const QScreen* screen = q->screen();
        const qreal hz = screen ? screen->refreshRate() : 60.0;
        return std::clamp(int(1000.0 / std::max<qreal>(hz, 1.0)), 4, 40);
    }
    void changed()
    {
        viewDirty = true;
        scrollBarsStale = true;
        requestPaint();
    }
    void layoutsStale()
    {
        ++generation;
        changed();
    }
    void setCaret(qint64 pos, bool keepAnchor)
    {
        caret = std::clamp<qint64>(pos, 0, size());
        if (!keepAnchor)
            anchor = caret;
        requestPaint();
    }

    // The widget's font, shaped only where the script needs it: plain text skips the shaper.
    QFont layoutFont() const
    {
        QFont f = q->font();
        f.setStyleStrategy(QFont::StyleStrategy(f.styleStrategy() | QFont::PreferNoShaping));
        return f;
    }

    // After appends the selection is the empty range at the new end. The document says so once a
    // turn of the event loop; whatever reads the selection or the layout asks first.
    quint64 seenAppends = 0;
    void followAppends()
    {
        if (doc.appendCount() == seenAppends)
            return;
        seenAppends = doc.appendCount();
        anchor = caret = size();
        grewSincePaint = true;
        changed();
    }

    // A fresh text shows from its top; one put back (a failed load) from its end.
    void textReplaced(bool fresh)
    {
        seenAppends = doc.appendCount();
        anchor = caret = fresh ? 0 : size();
        shown.clear();
        endLayouts.clear();
        widestLine = 0;
        placement = fresh ? Anchor::Top : Anchor::End;
        placementLine = 0;
        caretScrollPending = false;
        q->horizontalScrollBar()->setValue(0);
        layoutsStale();
    }

    // ---- lines and layouts --------------------------------------------------------------------
    // The key of a line: its bytes without the line break (LF or CR LF), and without a CR directly
    // before that CR LF: a sender that ends its lines with CR LF leaves CR CR LF in the log, which
    // reads as a plain line end. At the end of the whole text the same CRs are left out, since
    // their LF may be on its way. Any other CR is drawn.
    LogLineLayout::Key keyOf(qint64 line) const
    {
        LogLineLayout::Key key{line, doc.lineStart(line), doc.lineEnd(line), generation};
        for (int i = 0; i < 2 && key.end > key.start && doc.data()[key.end - 1] == '\r'; ++i)
            --key.end;
        return key;
    }

    std::unique_ptr<LogLineLayout> layoutOf(qint64 line, std::vector<std::unique_ptr<LogLineLayout>>& reusable)
    {
        const LogLineLayout::Key key = keyOf(line);
        for (auto& l : reusable) {
            if (l && l->adoptIfSame(key))
                return std::move(l);
        }
        auto l = std::make_unique<LogLineLayout>(key, doc.data() + key.start, layoutFont(), wrapWidth(),
                                                 rowHeight(), q->palette().color(QPalette::PlaceholderText));
        widestLine = std::max(widestLine, int(l->naturalWidth()) + 1);
        return l;
    }

    // Lays out the lines in view for a placement; earlier layouts are reused where still valid.
    std::vector<std::unique_ptr<LogLineLayout>> place(Anchor how, qint64 line,
                                                      std::vector<std::unique_ptr<LogLineLayout>>& reusable)
    {
        std::vector<std::unique_ptr<LogLineLayout>> out;
        const int height = viewHeight();
        if (how != Anchor::Top) {
            int y = height;
            for (qint64 l = (how == Anchor::End ? lastLine() : std::min(line, lastLine())); l >= 0 && y > 0; --l) {
                out.push_back(layoutOf(l, reusable));
                y -= out.back()->height();
                out.back()->y = y;
            }
            std::reverse(out.begin(), out.end());
            if (y <= 0 || out.empty())
                return out;
            // Everything from line 0 fits above: show it from the top instead.
            for (auto& l : out)
                reusable.push_back(std::move(l));
            out.clear();
            line = 0;
        }
        for (qint64 l = std::clamp<qint64>(line, 0, lastLine()), y = 0; l <= lastLine() && y < height; ++l) {
            out.push_back(layoutOf(l, reusable));
            out.back()->y = int(y);
            y += out.back()->height();
        }
        return out;
    }

    static qint64 firstWholeLine(const std::vector<std::unique_ptr<LogLineLayout>>& lines)
    {
        for (const auto& l : lines) {
            if (l->y >= 0)
                return l->key().line;
        }
        return lines.empty() ? 0 : lines.back()->key().line;
    }

    bool lineWhollyShown(qint64 line) const
    {
        for (const auto& l : shown) {
            if (l->key().line == line)
                return l->y >= 0 && l->y + l->height() <= viewHeight();
        }
        return false;
    }

    void relayout()
    {
        followAppends();
        if (!viewDirty)
            return;
        viewDirty = false;
        auto previous = std::move(shown);
        shown = place(placement, placementLine, previous);
        if (caretScrollPending) {
            caretScrollPending = false;
            const qint64 line = doc.lineOf(caret);
            if (!lineWhollyShown(line)) {
                placement = line < firstWholeLine(shown) ? Anchor::Top : Anchor::Bottom;
                if (placement == Anchor::Bottom && line == lastLine())
                    placement = Anchor::End;
                placementLine = line;
                for (auto& l : shown)
                    previous.push_back(std::move(l));
                shown = place(placement, placementLine, previous);
            }
            scrollCaretIntoViewHorizontally();
        }
        topLine = firstWholeLine(shown);
    }

    void scrollCaretIntoViewHorizontally()
    {
        if (wrap)
            return;
        const qint64 line = doc.lineOf(caret);
        for (const auto& l : shown) {
            if (l->key().line != line)
                continue;
            const int x = int(l->layout().lineAt(0).cursorToX(l->charOfByte(caret)));
            QScrollBar* bar = q->horizontalScrollBar();
            const int visible = q->viewport()->width() - 2 * kMargin;
            int value = bar->value();
            if (x < value)
                value = x;
            else if (x > value + visible)
                value = x - visible;
            if (value != bar->value()) {
                bar->setMaximum(std::max(bar->maximum(), value));
                syncingScrollBars = true;
                bar->setValue(value);
                syncingScrollBars = false;
            }
            return;
        }
    }

    // The top line when the end of the text is at the bottom of the view: the vertical maximum.
    qint64 endTopLine()
    {
        if (placement == Anchor::End)
            return topLine;
        if (!wrap)
            return std::max<qint64>(0, doc.lineCount() - std::max(1, viewHeight() / rowHeight()));
        // Lay out the last screenful, keeping it for the next time (the end rarely changes alone).
        std::vector<std::unique_ptr<LogLineLayout>> pool = std::move(endLayouts);
        for (auto& l : shown)
            pool.push_back(std::move(l));
        auto endSet = place(Anchor::End, 0, pool);
        const qint64 result = firstWholeLine(endSet);
        const qint64 firstEndLine = endSet.empty() ? 0 : endSet.front()->key().line;
        for (auto& l : endSet)
            pool.push_back(std::move(l));
        shown = place(placement, placementLine, pool);
        std::erase_if(pool, [&](const auto& l) { return !l || l->key().line < firstEndLine; });
        endLayouts = std::move(pool);
        return result;
    }

    void syncScrollBars()
    {
        scrollBarsStale = false;
        relayout();
        syncingScrollBars = true;
        QScrollBar* v = q->verticalScrollBar();
        const qint64 maxTop = endTopLine();
        v->setRange(0, toScrollValue(maxTop));
        qint64 whole = 0;
        for (const auto& l : shown)
            whole += (l->y >= 0 && l->y + l->height() <= viewHeight()) ? 1 : 0;
        v->setPageStep(toScrollValue(std::max<qint64>(1, whole - 1)));
        v->setSingleStep(1);
        v->setValue(toScrollValue(placement == Anchor::End ? maxTop : topLine));

        QScrollBar* h = q->horizontalScrollBar();
        if (wrap) {
            h->setRange(0, 0);
        } else {
            h->setRange(0, std::max(0, widestLine + 2 * kMargin - q->viewport()->width()));
            h->setPageStep(std::max(1, q->viewport()->width()));
            h->setSingleStep(std::max(1, q->fontMetrics().averageCharWidth() * 2));
        }
        syncingScrollBars = false;
    }

    // ---- hit testing --------------------------------------------------------------------------
    // The line at viewport y (the nearest one when y is above or below the lines in view).
    const LogLineLayout* lineAtY(int y)
    {
        relayout();
        if (shown.empty())
            return nullptr;
        for (const auto& l : shown) {
            if (y < l->y + l->height())
                return l.get();
        }
        return shown.back().get();
    }

    qint64 byteAt(QPoint pos)
    {
        const LogLineLayout* l = lineAtY(pos.y());
        if (!l)
            return size();
        if (pos.y() >= l->y + l->height() && l->key().line == lastLine())
            return size();
        return l->byteOfChar(l->hitChar(QPointF(pos.x() - textLeft(), pos.y() - l->y)));
    }

    void selectWordAt(QPoint pos)
    {
        const LogLineLayout* l = lineAtY(pos.y());
        if (!l)
            return;
        const QString& text = l->text();
        int from = l->hitChar(QPointF(pos.x() - textLeft(), pos.y() - l->y));
        int to = from;
        if (from < text.size() && isWordChar(text.at(from))) {
            while (from > 0 && isWordChar(text.at(from - 1)))
                --from;
            while (to < text.size() && isWordChar(text.at(to)))
                ++to;
        } else if (from < text.size()) {
            to = from + 1;
        }
        anchor = l->byteOfChar(from);
        caret = l->byteOfChar(to);
        requestPaint();
    }

    // ---- keyboard movement --------------------------------------------------------------------
    qint64 lineContentEnd(qint64 line) const { return keyOf(line).end; }

    qint64 verticalMove(qint64 pos, qint64 lines) const
    {
        const qint64 line = doc.lineOf(pos);
        const qint64 target = std::clamp<qint64>(line + lines, 0, lastLine());
        const qint64 column = pos - doc.lineStart(line);
        const qint64 to = std::min(doc.lineStart(target) + column, lineContentEnd(target));
        return logtext::charStartAt(doc.data(), size(), to);
    }
};

