#include "clientlib/blended_bitbtn.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTouchEvent>
#include <algorithm>

#include "platform/cp1252.h"

namespace jov {
namespace {

constexpr int kPadding = 3;  // room kept between the caption and the button's edge
constexpr int kUnbounded = 10000;

bool Horizontal(TBlendedBitBtn::TButtonLayout layout) {
  return layout == TBlendedBitBtn::TButtonLayout::blGlyphLeft ||
         layout == TBlendedBitBtn::TButtonLayout::blGlyphRight;
}

QSize PixmapSize(const QPixmap& pixmap) {
  return pixmap.isNull() ? QSize(0, 0) : pixmap.deviceIndependentSize().toSize();
}

}  // namespace

QColor ColorFromStored(int stored) {
  return QColor(stored & 0xFF, (stored >> 8) & 0xFF, (stored >> 16) & 0xFF);
}

GlyphAndText CalcButtonLayout(const QSize& client, const QSize& glyph, const QSize& text,
                              TBlendedBitBtn::TButtonLayout layout, int margin, int spacing) {
  using L = TBlendedBitBtn::TButtonLayout;
  GlyphAndText at;
  const bool horizontal = Horizontal(layout);
  // Across the layout's direction both parts are centred.
  if (horizontal) {
    at.glyph.setY((client.height() - glyph.height() + 1) / 2);
    at.text.setY((client.height() - text.height() + 1) / 2);
  } else {
    at.glyph.setX((client.width() - glyph.width() + 1) / 2);
    at.text.setX((client.width() - text.width() + 1) / 2);
  }
  if (text.width() == 0 || glyph.width() == 0) spacing = 0;
  const int room = horizontal ? client.width() : client.height();
  const int glyph_extent = horizontal ? glyph.width() : glyph.height();
  const int text_extent = horizontal ? text.width() : text.height();
  if (margin == -1) {
    if (spacing == -1) {
      margin = (room - (glyph_extent + text_extent)) / 3;
      spacing = margin;
    } else {
      margin = (room - (glyph_extent + spacing + text_extent) + 1) / 2;
    }
  } else if (spacing == -1) {
    spacing = (room - (margin + glyph_extent) - text_extent) / 2;
  }
  switch (layout) {
    case L::blGlyphLeft:
      at.glyph.setX(margin);
      at.text.setX(margin + glyph.width() + spacing);
      break;
    case L::blGlyphRight:
      at.glyph.setX(client.width() - margin - glyph.width());
      at.text.setX(at.glyph.x() - spacing - text.width());
      break;
    case L::blGlyphTop:
      at.glyph.setY(margin);
      at.text.setY(margin + glyph.height() + spacing);
      break;
    case L::blGlyphBottom:
      at.glyph.setY(client.height() - margin - glyph.height());
      at.text.setY(at.glyph.y() - spacing - text.height());
      break;
  }
  return at;
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
  setText(cp1252::ToQString(caption));  // also binds Alt with the marked letter
  updateGeometry();
  update();
}

const QPixmap& TBlendedBitBtn::CurrentGlyph() const {
  return isEnabled() || GlyphDisabled.isNull() ? Glyph : GlyphDisabled;
}

TBlendedBitBtn::TextBlock TBlendedBitBtn::FitText(const QSize& glyph) const {
  if (text().isEmpty()) return {};
  const QFontMetrics metrics(font());
  const QRect one_line =
      metrics.boundingRect(QRect(0, 0, kUnbounded, kUnbounded), Qt::TextShowMnemonic, text());
  // A centred caption keeps its padding on both sides; one placed from a fixed margin needs
  // it only on the side away from the glyph.
  int room = width() - 2 * kPadding;
  if (Horizontal(Layout) && glyph.width() > 0) {
    room -= glyph.width() + std::max(Spacing, 0);
    if (Margin >= 0) room -= Margin - kPadding;
  }
  if (one_line.width() <= room || room <= 0) return {one_line.size(), false};
  const QRect wrapped = metrics.boundingRect(QRect(0, 0, room, kUnbounded),
                                             Qt::TextShowMnemonic | Qt::TextWordWrap, text());
  return {wrapped.size(), true};
}

TBlendedBitBtn::Placement TBlendedBitBtn::PlaceFor(const QSize& glyph,
                                                   const TextBlock& text) const {
  const GlyphAndText at = CalcButtonLayout(size(), glyph, text.size, Layout, Margin, Spacing);
  Placement place;
  if (!glyph.isEmpty()) place.glyph = QRect(at.glyph, glyph);
  if (!text.size.isEmpty()) place.text = QRect(at.text, text.size);
  return place;
}

TBlendedBitBtn::Placement TBlendedBitBtn::Place() const {
  const QSize glyph = PixmapSize(CurrentGlyph());
  return PlaceFor(glyph, FitText(glyph));
}

QSize TBlendedBitBtn::sizeHint() const {
  const QSize glyph = PixmapSize(Glyph);
  QSize caption;
  if (!text().isEmpty()) {
    caption = QFontMetrics(font())
                  .boundingRect(QRect(0, 0, kUnbounded, kUnbounded), Qt::TextShowMnemonic, text())
                  .size();
  }
  const int gap = glyph.isEmpty() || caption.isEmpty() ? 0 : std::max(Spacing, 4);
  const int edge = 2 * std::max({Margin, kPadding, 0});
  if (Horizontal(Layout)) {
    return {edge + glyph.width() + gap + caption.width(),
            2 * kPadding + std::max(glyph.height(), caption.height())};
  }
  return {2 * kPadding + std::max(glyph.width(), caption.width()),
          edge + glyph.height() + gap + caption.height()};
}

QSize TBlendedBitBtn::minimumSizeHint() const { return sizeHint(); }

bool TBlendedBitBtn::event(QEvent* e) {
  switch (e->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
      break;
    default:
      return QAbstractButton::event(e);
  }
  if (!isEnabled()) return QAbstractButton::event(e);
  // A touch presses the button while it stays over it and clicks it when lifted there.
  auto* touch = static_cast<QTouchEvent*>(e);
  const bool over =
      !touch->points().isEmpty() && rect().contains(touch->points().first().position().toPoint());
  switch (e->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
      setDown(over);
      break;
    case QEvent::TouchEnd:
      setDown(false);
      if (over) click();
      break;
    default:
      setDown(false);
      break;
  }
  e->accept();
  return true;
}

void TBlendedBitBtn::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const bool down = isDown() && isEnabled();
  const QColor fill = !isEnabled() ? DisabledColor : down ? DownColor : BrushColor;
  const QColor ink = !isEnabled() ? DisabledFontColor : down ? DownFontColor : FontColor;

  // The outline, when drawn, lies inside the button's rectangle.
  const bool outline = PenStyle == TPenStyle::psSolid;
  const QRectF box = outline ? QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5) : QRectF(rect());
  QPainterPath shape;
  if (Shape == TShape::stRoundRect) {
    // Corners are arcs of an ellipse a quarter of the shorter side across.
    const qreal radius = std::min(width(), height()) / 8.0;
    shape.addRoundedRect(box, radius, radius);
  } else {
    shape.addRect(box);
  }
  p.fillPath(shape, fill);
  if (outline) p.strokePath(shape, QPen(PenColor, 1));

  const QPixmap& glyph = CurrentGlyph();
  const QSize glyph_size = PixmapSize(glyph);
  const TextBlock text_block = FitText(glyph_size);
  const Placement place = PlaceFor(glyph_size, text_block);
  if (!place.glyph.isEmpty()) p.drawPixmap(place.glyph.topLeft(), glyph);
  if (!place.text.isEmpty()) {
    p.setPen(ink);
    p.setFont(font());
    int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextShowMnemonic;
    if (text_block.wrapped) flags |= Qt::TextWordWrap;
    p.drawText(place.text, flags, text());
  }
}

}  // namespace jov
