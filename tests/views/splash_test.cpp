// The splash screen's placement and lifetime, and the About box.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "views/about_dlg.h"
#include "views/splash.h"

using namespace orvane;

class SplashTest : public QObject {
  Q_OBJECT

 private slots:
  void centredOrigin_data();
  void centredOrigin();
  void splashStaysUntilTheMainWindowIsShown();
  void aboutBoxShowsVersionAndClosesOnOk();
};

void SplashTest::centredOrigin_data() {
  QTest::addColumn<QSize>("screen");
  QTest::addColumn<QPoint>("origin");
  QTest::newRow("full hd") << QSize(1920, 1080) << QPoint(685, 353);
  QTest::newRow("odd") << QSize(1025, 769) << QPoint(237, 198);
  // A smaller screen: negative edges, rounded toward zero.
  QTest::newRow("small") << QSize(401, 300) << QPoint(-74, -36);
}

void SplashTest::centredOrigin() {
  QFETCH(QSize, screen);
  QFETCH(QPoint, origin);
  QCOMPARE(CSplash::CentredOrigin(screen, CSplash::kPictureSize), origin);
}

void SplashTest::splashStaysUntilTheMainWindowIsShown() {
  QPointer<CSplash> splash = new CSplash(std::chrono::milliseconds(0));
  QCOMPARE(splash->size(), QSize(550, 373));
  QVERIFY(splash->isVisible());
  QWidget mainWindow;
  splash->Finish(&mainWindow);
  QCoreApplication::processEvents();
  QVERIFY(splash);  // the main window is not on screen yet
  mainWindow.show();
  QTRY_VERIFY_WITH_TIMEOUT(!splash, 5000);
}

void SplashTest::aboutBoxShowsVersionAndClosesOnOk() {
  CAboutDlg about;
  QCOMPARE(about.windowTitle(), QStringLiteral("关于 Orvane"));
  QStringList texts;
  for (const QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
  QVERIFY(texts.contains(QStringLiteral("Orvane 1.3.2")));
  QVERIFY(texts.contains(QStringLiteral("作者")));
  about.show();
  auto* ok = about.findChild<QPushButton*>();
  QCOMPARE(ok->text(), QStringLiteral("确定"));
  ok->click();
  QCOMPARE(about.result(), int(QDialog::Accepted));
  QVERIFY(!about.isVisible());
}

QTEST_MAIN(SplashTest)
#include "splash_test.moc"
