#include "qt/qtfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/platform.h"
#include "qt/namefilters.h"

namespace {
uint32_t ReaderCode(QImageReader::ImageReaderError error) {
  switch (error) {
    case QImageReader::FileNotFoundError:
    case QImageReader::DeviceError:
      return kImagingFileNotFound;
    case QImageReader::UnsupportedFormatError:
      return kImagingUnknownFormat;
    default:
      return kImagingInvalidData;
  }
}

// The bit count a BMP file's header states (its info header's size tells which kind of
// header it is); 0 when the header cannot be read.
int BmpBitCount(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  unsigned char h[30] = {};
  const size_t got = std::fread(h, 1, sizeof h, f);
  std::fclose(f);
  if (got < 26 || h[0] != 'B' || h[1] != 'M') return 0;
  const uint32_t infoSize =
      uint32_t(h[14]) | uint32_t(h[15]) << 8 | uint32_t(h[16]) << 16 | uint32_t(h[17]) << 24;
  if (infoSize == 12) return h[24] | h[25] << 8;  // the old core header
  if (got < 30) return 0;
  return h[28] | h[29] << 8;
}
// Whether a JPEG file holds the end marker after its last scan's start. Qt's decoder pads a
// file cut short with grey and calls it read; such a picture is not the file's.
bool JpegComplete(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  const qsizetype scan = bytes.lastIndexOf(QByteArray("\xFF\xDA", 2));
  return scan >= 0 && bytes.indexOf(QByteArray("\xFF\xD9", 2), scan) >= 0;
}
}  // namespace

ImagingLoad QtImaging::Load(const std::string& path) {
  ImagingLoad out;
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(false);
  const QSize size = reader.size();
  if (!size.isValid() && !reader.canRead()) {
    out.code = ReaderCode(reader.error());
    return out;
  }
  // The decoded picture and the bitmap made of it must fit the memory available; Qt's own
  // allocation limit follows the same figure.
  const uint64_t available = GetPlatform().Memory().availPhys;
  if (size.isValid()) {
    const uint64_t pixels = uint64_t(size.width()) * uint64_t(size.height());
    if (pixels > INT32_MAX / 4 || !MemoryAllows(pixels * 7)) {
      out.code = kImagingOutOfMemory;
      return out;
    }
  }
  QImageReader::setAllocationLimit(int(std::clamp<uint64_t>(available >> 20, 1, INT_MAX)));
  const QByteArray format = reader.format().toLower();
  const bool bmp = format == "bmp";
  if ((format == "jpeg" || format == "jpg") && !JpegComplete(path)) {
    out.code = kImagingInvalidData;
    return out;
  }
  QImage image;
  if (!reader.read(&image) || image.isNull()) {
    out.code = ReaderCode(reader.error());
    return out;
  }
  // BMP keeps the depth its header states, so that palette and 16-bit files are refused as
  // they always were; every other format is decoded to true colour, with alpha or without.
  out.depth = bmp ? BmpBitCount(path) : (image.hasAlphaChannel() ? 32 : 24);
  image = image.convertToFormat(QImage::Format_ARGB32);
  try {
    out.bitmap = DisplayBitmap(image.width(), image.height());
  } catch (const std::bad_alloc&) {
    out.code = kImagingOutOfMemory;
    return out;
  }
  // The fourth byte is dropped, never blended: what the file holds in colour stays.
  const int h = image.height();
  for (int y = 0; y < h; ++y) {
    const auto* src = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    uint8_t* dst = out.bitmap.row(h - 1 - y);
    for (int x = 0; x < image.width(); ++x) {
      dst[3 * x] = uint8_t(qBlue(src[x]));
      dst[3 * x + 1] = uint8_t(qGreen(src[x]));
      dst[3 * x + 2] = uint8_t(qRed(src[x]));
    }
  }
  return out;
}

uint32_t QtImaging::Save(const std::string& path, const DisplayBitmap& bitmap) {
  if (bitmap.empty()) return kImagingEmptyImage;
  const QString name = QString::fromStdString(path);
  const int dot = int(name.lastIndexOf(QLatin1Char('.')));
  const QByteArray format = dot < 0 ? QByteArray() : name.mid(dot + 1).toLower().toLatin1();
  if (format.isEmpty() || !QImageWriter::supportedImageFormats().contains(format)) {
    return kImagingUnknownFormat;
  }
  // A view of the bottom-up rows, turned the right way up.
  const QImage view(bitmap.data(), bitmap.width(), bitmap.height(), qsizetype(bitmap.stride()),
                    QImage::Format_BGR888);
  const QImage picture = view.mirrored(false, true).convertToFormat(QImage::Format_RGB888);
  // Written beside the target and renamed over it once complete.
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly)) return kImagingWriteFailed;
  QImageWriter writer(&file, format);
  if (!writer.write(picture)) {
    file.cancelWriting();
    return writer.error() == QImageWriter::UnsupportedFormatError ? kImagingUnknownFormat
                                                                  : kImagingWriteFailed;
  }
  return file.commit() ? kImagingOk : kImagingWriteFailed;
}

bool MoveFileToTrash(const std::string& path) {
  if (path.empty()) return false;
  return QFile::moveToTrash(QString::fromStdString(path));
}

QStringList NameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      for (const QString& variant : {p, p.toLower(), p.toUpper()}) {
        if (!patterns.contains(variant)) patterns << variant;
      }
    }
    filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
  }
  return filters;
}

QtImagingSession::QtImagingSession() {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "zep";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  SetImaging(&imaging_);
}

QtImagingSession::~QtImagingSession() { SetImaging(nullptr); }
