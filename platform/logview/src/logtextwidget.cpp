// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/logtextwidget.h"

#include "logtextwidget_p.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>


// ---- construction -------------------------------------------------------------------------------

CLogTextWidget::CLogTextWidget(const LogDocument& doc, QWidget* parent)
    : QAbstractScrollArea(parent)
    , d(std::make_unique<Impl>(this, doc))
{
    setAccessibleName(QStringLiteral("Log"));
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    // The background is painted here, in bands (paintEvent).
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    d->scrollBarTimer = new QTimer(this);
    d->scrollBarTimer->setSingleShot(true);
    d->scrollBarTimer->setInterval(0);
    connect(d->scrollBarTimer, &QTimer::timeout, this, [this] { d->syncScrollBars(); });
    connect(&doc, &LogDocument::grown, this, [this](bool byAppend) {
        if (byAppend)
            d->followAppends();
        else
            d->changed();
    });
    connect(&doc, &LogDocument::replaced, this, [this](bool fresh) { d->textReplaced(fresh); });
    connect(&doc, &LogDocument::progress, this, [this](const QString& text) {
        // A long load shows the window it goes into.
        if (!text.isEmpty() && !window()->isVisible())
            window()->show();
    });
    d->frameTimer = new QTimer(this);
    d->frameTimer->setSingleShot(true);
    d->frameTimer->setTimerType(Qt::PreciseTimer);
    connect(d->frameTimer, &QTimer::timeout, this, [this] { d->updateNow(); });
}

CLogTextWidget::~CLogTextWidget() = default;

// ---- the text -----------------------------------------------------------------------------------

// ---- selection ----------------------------------------------------------------------------------

void CLogTextWidget::setSelection(qsizetype start, qsizetype end)
{
    d->followAppends();
    d->anchor = std::clamp<qint64>(start, 0, d->size());
    d->caret = std::clamp<qint64>(end, 0, d->size());
    d->requestPaint();
}

qsizetype CLogTextWidget::selectionStart() const { return d->selStart(); }

qsizetype CLogTextWidget::selectionEnd() const { return d->selEnd(); }

QByteArray CLogTextWidget::selectedBytes() const
{
    return d->doc.bytes(d->selStart(), d->selEnd() - d->selStart());
}

void CLogTextWidget::scrollCaretIntoView()
{
    d->followAppends();
    if (d->caret == d->size()) {
        d->placement = Anchor::End;  // the common case, following the end of the log
    }
    d->caretScrollPending = true;  // worked out at the next layout, however many calls come first
    d->changed();
}

// ---- edit commands ------------------------------------------------------------------------------

void CLogTextWidget::copy()
{
    // More than this would hold the window while it is turned into text, and the clipboard keeps
    // its own copy of it.
    constexpr qint64 kMostCopied = qint64(64) << 20;
    const qint64 length = d->selEnd() - d->selStart();
    if (length > kMostCopied) {
        emit notice(tr("The selection is too large to copy: %1 MB, of at most %2 MB.\n\n"
                       "Select less, or save the log to a file.").arg(megabytes(length), megabytes(kMostCopied)));
        return;
    }
    // Invalid UTF-8 becomes U+FFFD; line breaks stay as they are in the bytes (CR LF stays CR LF).
    if (length > 0)
        QGuiApplication::clipboard()->setText(QString::fromUtf8(d->doc.data() + d->selStart(), length));
}

void CLogTextWidget::selectAllText()
{
    d->followAppends();
    d->anchor = 0;
    d->caret = d->size();
    d->requestPaint();
}

// ---- style --------------------------------------------------------------------------------------

void CLogTextWidget::setWordWrap(bool wrap)
{
    if (d->wrap == wrap)
        return;
    d->wrap = wrap;
    setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setValue(0);
    d->layoutsStale();
}

bool CLogTextWidget::wordWrap() const { return d->wrap; }

// ---- layout queries -----------------------------------------------------------------------------

qsizetype CLogTextWidget::lineCount() const { return d->doc.lineCount(); }

qsizetype CLogTextWidget::firstVisibleLine() const
{
    d->relayout();
    return d->topLine;
}

bool CLogTextWidget::isEndVisible() const
{
    d->relayout();
    if (d->shown.empty())
        return true;
    const LogLineLayout& last = *d->shown.back();
    return last.key().line == d->lastLine() && last.y + last.height() <= d->viewHeight();
}

// ---- events -------------------------------------------------------------------------------------

void CLogTextWidget::paintEvent(QPaintEvent* event)
{
    if (!d->frameTimer->isActive())
        d->repaintPending = false;
    d->lastPaint.start();
    d->grewBeforePaint = std::exchange(d->grewSincePaint, false);
    d->relayout();
    if (d->scrollBarsStale && !d->scrollBarTimer->isActive())
        d->scrollBarTimer->start();
    QPainter painter(viewport());
    const QRect clip = event->rect();
    // Qt hands a fill of more than about a hundred rows to its own threads and waits for them,
    // which under a flood, both cores busy, can hold the window up for a frame and more: the
    // background goes in bands small enough to be filled here.
    constexpr int kBand = 64;
    for (int y = clip.top(); y <= clip.bottom(); y += kBand)
        painter.fillRect(QRect(clip.left(), y, clip.width(), std::min(kBand, clip.bottom() + 1 - y)),
                         palette().brush(QPalette::Base));
    painter.setPen(palette().color(QPalette::Text));

    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    const qint64 selStart = d->selStart();
    const qint64 selEnd = d->selEnd();
    const qreal left = d->textLeft();
    for (const auto& line : d->shown) {
        if (line->y > clip.bottom() || line->y + line->height() <= clip.top())
            continue;
        const LogLineLayout::Key& key = line->key();
        const QPointF origin(left, line->y);
        QList<QTextLayout::FormatRange> selection;
        if (selStart < selEnd && selStart <= key.end && selEnd > key.start) {
            QTextLayout::FormatRange range;
            range.start = line->charOfByte(std::max(selStart, key.start));
            range.length = line->charOfByte(std::min(selEnd, key.end)) - range.start;
            range.format.setBackground(palette().brush(group, QPalette::Highlight));
            range.format.setForeground(palette().brush(group, QPalette::HighlightedText));
            if (range.length > 0)
                selection.append(range);
            if (selEnd > key.end && key.line < d->lastLine()) {  // the line break is selected too
                const QRectF mark(left + line->endX(), line->y + line->height() - d->rowHeight(),
                                  fontMetrics().averageCharWidth(), d->rowHeight());
                painter.fillRect(mark, palette().brush(group, QPalette::Highlight));
            }
        }
        line->layout().draw(&painter, origin, selection, clip);
    }
}

void CLogTextWidget::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (d->wrap)
        d->layoutsStale();
    else
        d->changed();
}

void CLogTextWidget::scrollContentsBy(int dx, int dy)
{
    if (d->syncingScrollBars)
        return;
    if (dy != 0) {
        QScrollBar* v = verticalScrollBar();
        if (v->value() >= v->maximum())
            d->placement = Anchor::End;
        else
            d->placement = Anchor::Top;
        d->placementLine = v->value();
    }
    if (dx != 0 || dy != 0)
        d->changed();
}

void CLogTextWidget::keyPressEvent(QKeyEvent* event)
{
    d->followAppends();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const char* data = d->doc.data();
    const qint64 size = d->size();

    if (event == QKeySequence::Copy || (event->key() == Qt::Key_Insert && ctrl && !shift)) {
        copy();
        return;
    }
    if (event == QKeySequence::SelectAll) {
        selectAllText();
        return;
    }

    qint64 to = -1;
    switch (event->key()) {
    case Qt::Key_PageUp:
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
        return;
    case Qt::Key_PageDown:
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        return;
    case Qt::Key_Left:
        to = logtext::prevCharBoundary(data, size, d->caret);
        break;
    case Qt::Key_Right:
        to = logtext::nextCharBoundary(data, size, d->caret);
        break;
    case Qt::Key_Up:
        to = d->verticalMove(d->caret, -1);
        break;
    case Qt::Key_Down:
        to = d->verticalMove(d->caret, 1);
        break;
    case Qt::Key_Home:
        to = ctrl ? 0 : d->doc.lineStart(d->doc.lineOf(d->caret));
        break;
    case Qt::Key_End:
        to = ctrl ? size : d->lineContentEnd(d->doc.lineOf(d->caret));
        break;
    default:
        break;
    }
    if (to >= 0) {
        d->setCaret(to, shift);
        scrollCaretIntoView();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CLogTextWidget::mousePressEvent(QMouseEvent* event)
{
    d->followAppends();
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    d->dragging = true;
    d->setCaret(d->byteAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void CLogTextWidget::mouseMoveEvent(QMouseEvent* event)
{
    d->followAppends();
    if (!d->dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint pos = event->position().toPoint();
    // Dragging past the top or bottom edge scrolls a line at a time.
    if (pos.y() < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    d->setCaret(d->byteAt(pos), true);
}

void CLogTextWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !d->dragging)
        return;
    d->dragging = false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && d->selStart() < d->selEnd())
        clipboard->setText(QString::fromUtf8(selectedBytes()), QClipboard::Selection);
}

void CLogTextWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    d->followAppends();
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    d->dragging = false;
    d->selectWordAt(event->position().toPoint());
}

bool CLogTextWidget::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // Copy and select-all belong to the log while it has focus.
        auto* key = static_cast<QKeyEvent*>(event);
        if (key == QKeySequence::Copy || key == QKeySequence::SelectAll
            || (key->key() == Qt::Key_Insert && key->modifiers() == Qt::ControlModifier)) {
            event->accept();
            return true;
        }
        break;
    }
    case QEvent::Show:
    case QEvent::Hide:
        d->frameTimer->stop();
        d->repaintPending = false;  // a hidden widget drops update requests; showing paints all
        break;
    case QEvent::FontChange:
        d->widestLine = 0;
        d->layoutsStale();
        break;
    case QEvent::PaletteChange:
        d->layoutsStale();  // the note after a cut line takes its colour from the palette
        break;
    default:
        break;
    }
    return QAbstractScrollArea::event(event);
}
