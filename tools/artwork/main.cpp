// jov-artwork: draws the launcher screen's pictures into a folder.
//
//   jov-artwork OUTPUT_DIR
//
// Writes the two opening pictures (JPEG), the normal and disabled pictures of the four main
// buttons and the three keyboard icons (34 by 34, 32-bit PNG). Exits 1 naming the file that
// could not be written. Needs a Qt platform; QT_QPA_PLATFORM=offscreen serves.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kIcon = 34;
const QColor kOrange(0xCC, 0x5B, 0x2C);
const QColor kRed(0xEE, 0x3E, 0x11);
const QColor kGreen(0x22, 0xDD, 0x64);

QFont Sans(int pixels, int weight) {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(pixels);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

bool Save(const QImage& image, const QString& folder, const QString& name) {
  const QString path = QDir(folder).filePath(name);
  const bool jpeg = name.endsWith(QStringLiteral(".jpg"));
  if (!image.save(path, jpeg ? "JPG" : "PNG", jpeg ? 92 : -1)) {
    std::fprintf(stderr, "jov-artwork: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// ---- opening pictures -----------------------------------------------------------------

struct Brand {
  QString name;
  QColor sky_top, sky_bottom;                           // background gradient
  QColor glow;                                          // halo behind the emblem
  QColor emblem_a, emblem_b;                            // emblem gradient
  std::function<void(QPainter&, const QRectF&)> motif;  // white motif inside the emblem
};

// A shopping bag: the point-of-sale product's motif.
void Bag(QPainter& p, const QRectF& box) {
  const qreal u = box.width() / 100.0;
  p.save();
  p.translate(box.topLeft());
  p.scale(u, u);
  QPainterPath body;
  body.moveTo(24, 38);
  body.lineTo(76, 38);
  body.lineTo(80, 82);
  body.quadTo(80.5, 86, 76, 86);
  body.lineTo(24, 86);
  body.quadTo(19.5, 86, 20, 82);
  body.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(body);
  QPen handle(Qt::white, 6.5, Qt::SolidLine, Qt::RoundCap);
  p.setPen(handle);
  p.setBrush(Qt::NoBrush);
  QPainterPath arc;
  arc.moveTo(37, 44);
  arc.lineTo(37, 32);
  arc.cubicTo(37, 16, 63, 16, 63, 32);
  arc.lineTo(63, 44);
  p.drawPath(arc);
  p.setPen(QPen(QColor(0, 0, 0, 0), 0));
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setBrush(Qt::black);
  p.drawEllipse(QPointF(37, 47), 3.2, 3.2);
  p.drawEllipse(QPointF(63, 47), 3.2, 3.2);
  p.restore();
}

// A price tag: the sibling product's motif.
void Tag(QPainter& p, const QRectF& box) {
  const qreal u = box.width() / 100.0;
  p.save();
  p.translate(box.topLeft());
  p.scale(u, u);
  p.translate(50, 50);
  p.scale(1.15, 1.15);
  p.rotate(-45);
  QPainterPath tag;
  tag.moveTo(-34, -17);
  tag.lineTo(18, -17);
  tag.lineTo(36, 0);
  tag.lineTo(18, 17);
  tag.lineTo(-34, 17);
  tag.quadTo(-38, 17, -38, 13);
  tag.lineTo(-38, -13);
  tag.quadTo(-38, -17, -34, -17);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(tag);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.drawEllipse(QPointF(20, 0), 5, 5);
  p.restore();
}

// The emblem is drawn on its own layer so that the motif can punch holes into it.
QImage Emblem(const Brand& brand, int size) {
  QImage layer(size, size, QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  QPainter p(&layer);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient fill(0, 0, size, size);
  fill.setColorAt(0, brand.emblem_a);
  fill.setColorAt(1, brand.emblem_b);
  p.setPen(Qt::NoPen);
  p.setBrush(fill);
  p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.22, size * 0.22);
  QImage motif(size, size, QImage::Format_ARGB32_Premultiplied);
  motif.fill(Qt::transparent);
  {
    QPainter m(&motif);
    m.setRenderHint(QPainter::Antialiasing);
    brand.motif(m, QRectF(size * 0.08, size * 0.08, size * 0.84, size * 0.84));
  }
  p.drawImage(0, 0, motif);
  return layer;
}

QImage Opening(const Brand& brand, const QSize& size) {
  QImage image(size, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const qreal w = size.width();
  const qreal h = size.height();

  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, brand.sky_top);
  sky.setColorAt(1, brand.sky_bottom);
  p.fillRect(image.rect(), sky);

  // Soft diagonal bands give the surface some depth without competing with the buttons.
  p.save();
  p.translate(w * 0.5, h * 0.42);
  p.rotate(-28);
  for (int i = -6; i <= 6; ++i) {
    p.fillRect(QRectF(i * 110.0 - 30, -h, 46, 2 * h), QColor(255, 255, 255, i % 2 == 0 ? 6 : 3));
  }
  p.restore();

  QRadialGradient halo(QPointF(w * 0.5, h * 0.36), w * 0.42);
  QColor glow = brand.glow;
  glow.setAlpha(70);
  halo.setColorAt(0, glow);
  glow.setAlpha(0);
  halo.setColorAt(1, glow);
  p.fillRect(image.rect(), halo);

  // Emblem and name side by side, centred.
  const QFont title = Sans(static_cast<int>(h * 0.2), QFont::Bold);
  const QFontMetricsF title_metrics(title);
  const qreal emblem = h * 0.2;
  const qreal gap = emblem * 0.22;
  const qreal name_width = title_metrics.horizontalAdvance(brand.name);
  const qreal left = (w - (emblem + gap + name_width)) / 2;
  const qreal middle = h * 0.36;
  // A faint shadow under the emblem.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 60));
  p.drawRoundedRect(QRectF(left + 3, middle - emblem / 2 + 6, emblem, emblem), emblem * 0.22,
                    emblem * 0.22);
  p.drawImage(QPointF(left, middle - emblem / 2), Emblem(brand, static_cast<int>(emblem)));
  p.setFont(title);
  p.setPen(Qt::white);
  const qreal baseline = middle + (title_metrics.capHeight()) / 2;
  p.drawText(QPointF(left + emblem + gap, baseline), brand.name);

  // Accent rule and the product line.
  const qreal rule_y = middle + emblem / 2 + h * 0.07;
  QLinearGradient rule(w / 2 - 90, 0, w / 2 + 90, 0);
  rule.setColorAt(0, brand.emblem_a);
  rule.setColorAt(1, brand.emblem_b);
  p.fillRect(QRectF(w / 2 - 90, rule_y, 180, 3), rule);
  QFont subtitle = Sans(static_cast<int>(h * 0.045), QFont::Normal);
  subtitle.setLetterSpacing(QFont::AbsoluteSpacing, h * 0.008);
  p.setFont(subtitle);
  p.setPen(QColor(0xD5, 0xDD, 0xE5));
  p.drawText(QRectF(0, rule_y + h * 0.025, w, h * 0.07), Qt::AlignHCenter | Qt::AlignTop,
             QStringLiteral("PONTO DE VENDA"));

  // A darker floor under the row of buttons.
  QLinearGradient floor(0, h * 0.72, 0, h);
  floor.setColorAt(0, QColor(0, 0, 0, 0));
  floor.setColorAt(1, QColor(0, 0, 0, 70));
  p.fillRect(QRectF(0, h * 0.72, w, h * 0.28), floor);
  return image;
}

// ---- 34 by 34 icons ---------------------------------------------------------------------

using Drawing = std::function<void(QPainter&)>;

QPen Stroke(const QColor& colour, qreal width) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A white icon; the normal button picture carries a soft shadow, the disabled one is flat
// and lighter.
QImage Icon(const std::function<void(QPainter&, const QColor&)>& draw, bool disabled) {
  QImage image(kIcon, kIcon, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  if (disabled) {
    draw(p, QColor(255, 255, 255, 235));
  } else {
    p.save();
    p.translate(0.8, 1.2);
    draw(p, QColor(0, 0, 0, 55));
    p.restore();
    draw(p, Qt::white);
  }
  return image;
}

void ArrowHead(QPainter& p, QPointF tip, qreal angle_degrees, qreal length) {
  const qreal a = qDegreesToRadians(angle_degrees);
  const qreal spread = qDegreesToRadians(40.0);
  QPainterPath head;
  head.moveTo(tip.x() - length * std::cos(a - spread), tip.y() + length * std::sin(a - spread));
  head.lineTo(tip);
  head.lineTo(tip.x() - length * std::cos(a + spread), tip.y() + length * std::sin(a + spread));
  p.drawPath(head);
}

// A door frame with its wall at x = wall and its opening towards x = open, and a level arrow
// from from_x to to_x.
void DoorAndArrow(QPainter& p, const QColor& c, qreal wall, qreal open, qreal from_x, qreal to_x) {
  p.setPen(Stroke(c, 2.8));
  p.setBrush(Qt::NoBrush);
  const qreal corner = open > wall ? 2.5 : -2.5;
  QPainterPath frame;
  frame.moveTo(open, 6.5);
  frame.lineTo(wall + corner, 6.5);
  frame.quadTo(wall, 6.5, wall, 9);
  frame.lineTo(wall, 25);
  frame.quadTo(wall, 27.5, wall + corner, 27.5);
  frame.lineTo(open, 27.5);
  p.drawPath(frame);
  p.drawLine(QPointF(from_x, 17), QPointF(to_x, 17));
  ArrowHead(p, QPointF(to_x + 0.5, 17), 0, 7);
}

// Leaving: a door frame open to the right and an arrow going out through it.
void Exit(QPainter& p, const QColor& c) { DoorAndArrow(p, c, 7, 19, 14, 28); }

// Entering: an arrow going into a door frame open to the left.
void Enter(QPainter& p, const QColor& c) { DoorAndArrow(p, c, 27, 15, 5, 19); }

// Updating the system: two arrows chasing each other round a circle.
void Refresh(QPainter& p, const QColor& c) {
  p.setPen(Stroke(c, 2.8));
  p.setBrush(Qt::NoBrush);
  const QPointF centre(17, 17);
  const qreal r = 10.5;
  const QRectF circle(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
  for (qreal start : {35.0, 215.0}) {
    const qreal span = 130;
    QPainterPath arc;
    arc.arcMoveTo(circle, start);
    arc.arcTo(circle, start, span);
    p.drawPath(arc);
    // The arrow sits at the arc's end, pointing along the direction of travel.
    const qreal end = qDegreesToRadians(start + span);
    const QPointF tip(centre.x() + r * std::cos(end), centre.y() - r * std::sin(end));
    ArrowHead(p, tip, start + span + 90 - 8, 6.5);
  }
}

// Updating the tables: a table with a header row and a badge with an arrow bringing data in.
void Table(QPainter& p, const QColor& c) {
  p.setPen(Stroke(c, 2.2));
  p.setBrush(Qt::NoBrush);
  const QRectF box(3.5, 5.5, 23, 19);
  p.drawRoundedRect(box, 2.5, 2.5);
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  QPainterPath header;
  header.addRoundedRect(QRectF(box.left(), box.top(), box.width(), 6.5), 2.5, 2.5);
  header.addRect(QRectF(box.left(), box.top() + 3, box.width(), 3.5));
  p.drawPath(header.simplified());
  p.setPen(Stroke(c, 1.7));
  p.drawLine(QPointF(box.left(), 18), QPointF(box.right(), 18));
  p.drawLine(QPointF(11.5, box.top() + 6), QPointF(11.5, box.bottom()));
  p.drawLine(QPointF(19, box.top() + 6), QPointF(19, box.bottom()));
  // The badge punches a clear ring around itself so that it stands off the table.
  const QPointF badge(25, 25);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawEllipse(badge, 9, 9);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.setBrush(c);
  p.drawEllipse(badge, 7.5, 7.5);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setPen(Stroke(Qt::black, 2.2));
  p.drawLine(QPointF(25, 20.5), QPointF(25, 28.5));
  ArrowHead(p, QPointF(25, 29), -90, 4.5);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// Backspace: an outline pointing left with a cross in it.
void Backspace(QPainter& p, const QColor& c) {
  p.setPen(Stroke(c, 2.6));
  p.setBrush(Qt::NoBrush);
  QPainterPath outline;
  outline.moveTo(3.5, 17);
  outline.lineTo(11.5, 7.5);
  outline.lineTo(28, 7.5);
  outline.quadTo(30.5, 7.5, 30.5, 10);
  outline.lineTo(30.5, 24);
  outline.quadTo(30.5, 26.5, 28, 26.5);
  outline.lineTo(11.5, 26.5);
  outline.closeSubpath();
  p.drawPath(outline);
  p.drawLine(QPointF(16.5, 12.5), QPointF(25.5, 21.5));
  p.drawLine(QPointF(25.5, 12.5), QPointF(16.5, 21.5));
}

void Check(QPainter& p, const QColor& c) {
  p.setPen(Stroke(c, 3.6));
  p.setBrush(Qt::NoBrush);
  QPainterPath tick;
  tick.moveTo(6.5, 17.5);
  tick.lineTo(13.5, 24.5);
  tick.lineTo(27.5, 9.5);
  p.drawPath(tick);
}

void BackInCircle(QPainter& p, const QColor& c) {
  p.setPen(Stroke(c, 2.4));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(17, 17), 13.5, 13.5);
  p.setPen(Stroke(c, 2.8));
  p.drawLine(QPointF(24.5, 17), QPointF(10, 17));
  ArrowHead(p, QPointF(9.5, 17), 180, 7);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: jov-artwork OUTPUT_DIR\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "jov-artwork: cannot create %s\n", argv[1]);
    return 1;
  }

  const Brand jov{QStringLiteral("Jov"),
                  QColor(0x14, 0x1E, 0x2B),
                  QColor(0x24, 0x35, 0x49),
                  kRed,
                  kRed,
                  kOrange,
                  Bag};
  const Brand trv{QStringLiteral("TRV"),
                  QColor(0x17, 0x16, 0x33),
                  QColor(0x2B, 0x29, 0x52),
                  kGreen,
                  QColor(0x2B, 0xE0, 0x6E),
                  QColor(0x13, 0x9E, 0x4A),
                  Tag};

  bool ok = Save(Opening(jov, {800, 600}), folder, QStringLiteral("abertura_jov.jpg"));
  ok = Save(Opening(trv, {800, 530}), folder, QStringLiteral("abertura_trv.jpg")) && ok;

  const std::pair<const char*, void (*)(QPainter&, const QColor&)> buttons[] = {
      {"btn_sair", Exit}, {"btn_sistema", Refresh}, {"btn_tabelas", Table}, {"btn_entrar", Enter}};
  for (const auto& [name, draw] : buttons) {
    ok = Save(Icon(draw, false), folder, QString::fromLatin1(name) + QStringLiteral(".png")) && ok;
    ok = Save(Icon(draw, true), folder, QString::fromLatin1(name) + QStringLiteral("_off.png")) &&
         ok;
  }

  const std::pair<const char*, void (*)(QPainter&, const QColor&)> keys[] = {
      {"tecla_corrigir", Backspace}, {"tecla_confirma", Check}, {"tecla_sair", BackInCircle}};
  for (const auto& [name, draw] : keys) {
    QImage image(kIcon, kIcon, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, Qt::white);
    p.end();
    ok = Save(image, folder, QString::fromLatin1(name) + QStringLiteral(".png")) && ok;
  }
  return ok ? 0 : 1;
}
