// screen_grab FILE [X Y WIDTH HEIGHT]
//
// Saves what the X display shows, or the given part of it, as a PNG file.
// scripts/screenshots.sh takes the README's pictures of the window with it.
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if (args.size() != 2 && args.size() != 6) {
    std::fprintf(stderr, "usage: screen_grab FILE [X Y WIDTH HEIGHT]\n");
    return 2;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  const QPixmap shot = args.size() == 6 ? screen->grabWindow(0, args[2].toInt(), args[3].toInt(),
                                                             args[4].toInt(), args[5].toInt())
                                        : screen->grabWindow(0);
  return shot.save(args[1], "PNG") ? 0 : 1;
}
