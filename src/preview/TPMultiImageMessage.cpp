// The preview control's message modes: a ".SCM" line scrolling right to left
// through the middle of the control, or ".CMS" credits rising from the
// bottom one line at a time, over the message's background colour.
#include "TPMultiImage.h"

#include "MessageFile.h"
#include "platform/Exception.h"

#include <QFile>
#include <QTimer>

namespace preview {

void TPMultiImage::StartMessageMode(const QString& name, bool credits)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Exception(QStringLiteral("Файл сообщения не открыт: ") + name);
    // One more than the parser takes, so that a longer file is refused rather
    // than read whole.
    const MessageFile message = ParseMessageFile(file.read(kMessageFileLimit + 1), credits);
    // Color is still owed from an earlier message: that is the one to give back.
    if (!m_colorOwed)
        m_rememberedColor = m_color;
    m_colorOwed = false;
    SetColor(message.background);
    m_messageMode = credits ? MessageMode::Credits : MessageMode::Scrolling;
    m_messageLines = message.lines;
    m_messageFont = message.font;
    m_messageColor = message.fontColor;
    m_messageSpeed = message.speed;
    m_messageLine = 0;
    m_ticks = 0;
    RenderStrip();
    if (!m_messageTimer) {
        m_messageTimer = new QTimer(this);
        connect(m_messageTimer, &QTimer::timeout, this, &TPMultiImage::MessageTick);
    }
    if (m_tickInterval > 0)
        m_messageTimer->start(m_tickInterval);
    update();
}

void TPMultiImage::EndMessageMode(bool giveColorBack)
{
    // A mode ended without giving Color back (a paste) still owes it to the
    // next load by name.
    if (m_messageMode == MessageMode::Off) {
        if (giveColorBack && m_colorOwed) {
            m_colorOwed = false;
            SetColor(m_rememberedColor);
        }
        return;
    }
    m_messageMode = MessageMode::Off;
    if (m_messageTimer)
        m_messageTimer->stop();
    m_strip.Clear();
    m_colorOwed = !giveColorBack;
    if (giveColorBack)
        SetColor(m_rememberedColor);
    update();
}

// The current line drawn on the background, and where it starts: at the
// right edge, vertically centred; or below the bottom edge, centred across.
void TPMultiImage::RenderStrip()
{
    m_strip.Render(m_messageLines.value(m_messageLine), m_messageFont, m_messageColor, m_color);
    const QSize size = m_strip.Size();
    if (m_messageMode == MessageMode::Scrolling)
        m_stripPosition = QPoint(width(), (height() - size.height()) / 2);
    else
        m_stripPosition = QPoint((width() - size.width()) / 2, height());
}

void TPMultiImage::MessageTick()
{
    if (m_messageMode == MessageMode::Off)
        return;
    if (++m_ticks % (m_messageSpeed + 1) != 0)
        return;
    if (m_messageMode == MessageMode::Scrolling) {
        m_stripPosition.rx() -= 1;
        // Gone off the left: again from the right edge.
        if (m_stripPosition.x() + m_strip.Size().width() < 0)
            m_stripPosition.setX(width());
    } else {
        m_stripPosition.ry() -= 1;
        // Risen more than its height and 5 above the top: the next line.
        if (m_stripPosition.y() < -(m_strip.Size().height() + 5)) {
            m_messageLine = (m_messageLine + 1) % std::max<qsizetype>(1, m_messageLines.size());
            RenderStrip();
        }
    }
    repaint();
}

void TPMultiImage::SetMessageTickInterval(int milliseconds)
{
    m_tickInterval = milliseconds;
    if (!m_messageTimer)
        return;
    if (milliseconds > 0 && m_messageMode != MessageMode::Off)
        m_messageTimer->start(milliseconds);
    else
        m_messageTimer->stop();
}

}  // namespace preview
