#include "clientlib/blended_bitbtn.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include "platform/cp1252.h"

namespace jov {

QColor ColorFromStored(int stored) {
  return QColor(stored & 0xFF, (stored >> 8) & 0xFF, (stored >> 16) & 0xFF);
}

TBlendedBitBtn::TBlendedBitBtn(QWidget* parent) : QAbstractButton(parent) {
  setAttribute(Qt::WA_AcceptTouchEvents);
  setFocusPolicy(Qt::NoFocus);
  connect(this, &QAbstractButton::clicked, this, [this] {
    if (OnClick) OnClick(this);
  });
}

void TBlendedBitBtn::SetCaption(const std::string& caption) {
  caption_ = caption;
  setText(cp1252::ToQString(caption));
  update();
}

QSize TBlendedBitBtn::sizeHint() const { return {160, 46}; }

bool TBlendedBitBtn::event(QEvent* e) { return QAbstractButton::event(e); }

void TBlendedBitBtn::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const bool down = isDown();
  const QColor fill = !isEnabled() ? DisabledColor : down ? DownColor : BrushColor;
  const QColor ink = !isEnabled() ? DisabledFontColor : down ? DownFontColor : FontColor;
  QPainterPath path;
  const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  if (Shape == TShape::stRoundRect) {
    path.addRoundedRect(r, 10, 10);
  } else {
    path.addRect(r);
  }
  p.fillPath(path, fill);
  if (PenStyle == TPenStyle::psSolid) p.strokePath(path, QPen(Qt::black));
  const QPixmap& glyph = isEnabled() || GlyphDisabled.isNull() ? Glyph : GlyphDisabled;
  p.setPen(ink);
  p.setFont(font());
  QString label = text();
  label.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  label.remove(QLatin1Char('&'));
  label.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  if (glyph.isNull()) {
    p.drawText(rect(), Qt::AlignCenter, label);
    return;
  }
  const int text_width = label.isEmpty() ? 0 : p.fontMetrics().horizontalAdvance(label);
  const int gap = label.isEmpty() ? 0 : Spacing;
  const int total = glyph.width() + gap + text_width;
  int x = Margin >= 0 ? Margin : (width() - total) / 2;
  const int gy = (height() - glyph.height()) / 2;
  if (Layout == TButtonLayout::blGlyphRight) {
    if (Margin >= 0) x = width() - Margin - total;
    p.drawText(QRect(x, 0, text_width, height()), Qt::AlignVCenter | Qt::AlignLeft, label);
    p.drawPixmap(x + text_width + gap, gy, glyph);
  } else {
    p.drawPixmap(x, gy, glyph);
    p.drawText(QRect(x + glyph.width() + gap, 0, text_width, height()),
               Qt::AlignVCenter | Qt::AlignLeft, label);
  }
}

}  // namespace jov
