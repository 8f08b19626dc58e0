// TBlendedBitBtn: the rounded, custom-painted button of every command and key on the screen.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <functional>

namespace jov {

class TBlendedBitBtn : public QAbstractButton {
  Q_OBJECT

 public:
  enum class TShape { stRectangle, stRoundRect };
  enum class TPenStyle { psSolid, psClear };
  // Where the glyph stands relative to the caption.
  enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

  explicit TBlendedBitBtn(QWidget* parent = nullptr);

  TShape Shape = TShape::stRoundRect;
  TPenStyle PenStyle = TPenStyle::psClear;
  QColor BrushColor{128, 128, 128};
  QColor FontColor{Qt::white};
  QColor DownColor{Qt::black};
  QColor DownFontColor{Qt::white};
  QColor DisabledColor{204, 204, 204};
  QColor DisabledFontColor{Qt::white};
  QPixmap Glyph;
  QPixmap GlyphDisabled;
  TButtonLayout Layout = TButtonLayout::blGlyphLeft;
  int Margin = -1;  // -1: glyph and caption centred together
  int Spacing = 4;  // pixels between glyph and caption
  int Tag = 0;      // a key's character code
  std::function<void(TBlendedBitBtn*)> OnClick;

  // The caption in Windows-1252 bytes, "&" marking the access key.
  void SetCaption(const std::string& caption);
  std::string Caption() const { return caption_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  std::string caption_;
};

// Converts a stored colour value (red in the lowest byte) to a QColor.
QColor ColorFromStored(int stored);

}  // namespace jov
