// Build tool: turns the user guide (Markdown) into help.pdf with Qt's own
// text layout, so the build needs nothing beyond Qt.
//
//   orvane_help_pdf GUIDE.md OUTPUT.pdf
//
// Runs under QT_QPA_PLATFORM=offscreen; fonts come from fontconfig, which
// finds a CJK font for the guide's Chinese menu names.
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: orvane_help_pdf GUIDE.md OUTPUT.pdf\n");
    return 2;
  }
  QFile guide(QFile::decodeName(argv[1]));
  if (!guide.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "orvane_help_pdf: cannot read %s\n", argv[1]);
    return 1;
  }
  const QString markdown = QString::fromUtf8(guide.readAll());

  QPdfWriter writer(QFile::decodeName(argv[2]));
  writer.setTitle(QStringLiteral("Orvane"));
  writer.setCreator(QStringLiteral("Orvane"));
  writer.setResolution(300);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter));

  QTextDocument document;
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPointSizeF(10.5);
  // Hinted glyph widths, made for a screen, spread the letters on paper.
  font.setHintingPreference(QFont::PreferNoHinting);
  document.setDefaultFont(font);
  document.setDefaultStyleSheet(QStringLiteral("code { font-family: monospace; }"));
  document.setMarkdown(markdown);
  // print() lays the text out on the writer's pages, page numbers included.
  document.print(&writer);
  if (!QFile::exists(QFile::decodeName(argv[2]))) {
    std::fprintf(stderr, "orvane_help_pdf: %s was not written\n", argv[2]);
    return 1;
  }
  return 0;
}
