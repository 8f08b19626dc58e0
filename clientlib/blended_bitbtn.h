// TBlendedBitBtn: the rounded, custom-painted button of every command and key on the screen.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QPixmap>
#include <functional>
#include <string>

namespace jov {

class TBlendedBitBtn : public QAbstractButton {
  Q_OBJECT

 public:
  enum class TShape { stRectangle, stRoundRect };
  enum class TPenStyle { psSolid, psClear };
  // Where the glyph stands relative to the caption.
  enum class TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

  // Never takes the keyboard focus, so that keys always reach its form. A mouse click or a
  // touch released over the button clicks it.
  explicit TBlendedBitBtn(QWidget* parent = nullptr);

  // The looks are read at every paint: set them before showing, or call update() after.
  TShape Shape = TShape::stRoundRect;
  TPenStyle PenStyle = TPenStyle::psClear;
  QColor PenColor{Qt::black};
  QColor BrushColor{128, 128, 128};
  QColor FontColor{Qt::white};
  QColor DownColor{Qt::black};  // fill while pressed
  QColor DownFontColor{Qt::white};
  QColor DisabledColor{204, 204, 204};
  QColor DisabledFontColor{Qt::white};
  QPixmap Glyph;
  QPixmap GlyphDisabled;  // drawn while disabled; Glyph is drawn when this one is empty
  TButtonLayout Layout = TButtonLayout::blGlyphLeft;
  int Margin = -1;  // pixels from the edge to the glyph; -1 centres glyph and caption together
  int Spacing = 4;  // pixels between glyph and caption; -1 spreads them evenly
  int Tag = 0;      // a key's character code
  std::function<void(TBlendedBitBtn*)> OnClick;  // runs on every click while enabled

  // The caption in Windows-1252 bytes; "&" underlines the next letter and makes Alt with that
  // letter click the button, "&&" is a plain "&".
  void SetCaption(const std::string& caption);
  std::string Caption() const { return caption_; }

  // Where the glyph and the caption's text block stand inside the button.
  struct Placement {
    QRect glyph;  // empty when there is no glyph
    QRect text;   // empty when there is no caption
  };
  Placement Place() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;

 private:
  struct TextBlock {
    QSize size;
    bool wrapped = false;
  };
  const QPixmap& CurrentGlyph() const;
  // The caption fitted to the room the glyph leaves: wrapped at word breaks when one line
  // does not fit.
  TextBlock FitText(const QSize& glyph) const;
  Placement PlaceFor(const QSize& glyph, const TextBlock& text) const;

  std::string caption_;
};

// Converts a stored colour value (red in the lowest byte) to a QColor.
QColor ColorFromStored(int stored);

// The platform's bitmap-button placement: given the client size, the glyph and text sizes,
// the layout, the margin and the spacing (-1 meaning automatic for either), returns the
// top-left corners of the glyph and of the text block.
struct GlyphAndText {
  QPoint glyph;
  QPoint text;
};
GlyphAndText CalcButtonLayout(const QSize& client, const QSize& glyph, const QSize& text,
                              TBlendedBitBtn::TButtonLayout layout, int margin, int spacing);

}  // namespace jov
