#include "manager/window/state_icons.h"

#include <QPixmapCache>
#include <QString>

namespace callsink {

QPixmap StateIcons::Pixmap(int icon_id) {
  const QString path = QStringLiteral(":/icons/icon%1.png").arg(icon_id);
  QPixmap pixmap;
  if (!QPixmapCache::find(path, &pixmap) && pixmap.load(path)) QPixmapCache::insert(path, pixmap);
  return pixmap;
}

}  // namespace callsink
