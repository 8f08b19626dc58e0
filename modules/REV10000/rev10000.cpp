// A small stand-in for the point-of-sale module: a window that returns when it is closed.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

extern "C" __attribute__((visibility("default"))) void ExecutaModulo(int flag) {
  QDialog window;
  window.setWindowTitle(QStringLiteral("REV10000"));
  window.setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  window.setFixedSize(800, 600);
  window.setStyleSheet(QStringLiteral(
      "QDialog { background: #1F2A36; } QLabel { color: white; font: bold 28px 'Arial'; }"
      "QPushButton { background: #EE3E11; color: white; border-radius: 10px;"
      " font: 15px 'Arial'; min-height: 46px; }"));
  auto* layout = new QVBoxLayout(&window);
  auto* title = new QLabel(flag ? QStringLiteral("Ponto de venda (início)")
                                : QStringLiteral("Ponto de venda"));
  title->setAlignment(Qt::AlignCenter);
  auto* leave = new QPushButton(QStringLiteral("&Voltar ao início"));
  QObject::connect(leave, &QPushButton::clicked, &window, &QDialog::accept);
  layout->addStretch();
  layout->addWidget(title);
  layout->addStretch();
  layout->addWidget(leave);
  window.exec();
}
