// The drawn pictures: the sizes they answer with, drawn when asked for and at the scale asked
// for, and greyed out when disabled.
#include "gui/icons.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

namespace zvk::gui {
namespace {

int OpaquePixels(const QPixmap& pixmap) {
  const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
  int opaque = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) == 255;
  return opaque;
}

TEST(DrawnIcons, AnswerWithTheirNaturalSizeOrTwiceItMadeSmallerToFit) {
  struct Case {
    const char* icon;
    QIcon (*make)();
    QSize wanted;
    QSize shown;
  };
  for (const Case& c : {
           Case{"Setup", SetupIcon, {32, 32}, {32, 32}},
           Case{"Setup", SetupIcon, {24, 24}, {24, 24}},
           Case{"Setup", SetupIcon, {40, 40}, {40, 40}},  // from twice the natural size
           Case{"Setup", SetupIcon, {128, 128}, {64, 64}},
           Case{"Firmware", FirmwareImage, {108, 32}, {99, 32}},  // the setup window's button
           Case{"Firmware", FirmwareImage, {112, 36}, {112, 36}},
       }) {
    const QIcon icon = c.make();
    EXPECT_EQ(icon.actualSize(c.wanted), c.shown) << c.icon << " " << c.wanted.width();
    const QPixmap drawn = icon.pixmap(c.wanted);
    EXPECT_EQ(drawn.size(), c.shown) << c.icon << " " << c.wanted.width();
    EXPECT_GT(OpaquePixels(drawn), c.shown.width() * c.shown.height() / 10) << c.icon;
  }
  EXPECT_EQ(AppIcon().availableSizes(), (QList<QSize>{{32, 32}, {64, 64}}));
}

TEST(DrawnIcons, DrawAtTheScaleOfTheScreenAndGreyOutWhenDisabled) {
  for (QIcon (*make)() : {SetupIcon, RefreshIcon, FindMeIcon, TrendIcon, AppIcon, WriteIcon}) {
    const QPixmap sharp = make().pixmap(QSize(32, 32), 2.0);
    EXPECT_EQ(sharp.deviceIndependentSize().toSize(), QSize(32, 32));
    EXPECT_EQ(sharp.size(), QSize(64, 64));
  }
  for (QIcon (*make)() : {SetupIcon, RefreshIcon, FindMeIcon, TrendIcon, AppIcon, WriteIcon,
                          RebootImage, DefaultsImage}) {
    const QIcon icon = make();
    const QImage normal = icon.pixmap(QSize(32, 32)).toImage();
    const QImage disabled = icon.pixmap(QSize(32, 32), QIcon::Disabled).toImage();
    ASSERT_EQ(disabled.size(), normal.size());
    EXPECT_NE(disabled, normal);
    // Asked again, or under the pointer, the same picture.
    EXPECT_EQ(icon.pixmap(QSize(32, 32)).toImage(), normal);
    EXPECT_EQ(icon.pixmap(QSize(32, 32), QIcon::Active).toImage(), normal);
  }
}

}  // namespace
}  // namespace zvk::gui
