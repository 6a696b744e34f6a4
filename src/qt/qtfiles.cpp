#include "qt/qtfiles.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "fileio/bmp.h"
#include "fileio/jpeg.h"
#include "fileio/picturememory.h"
#include "fileio/tiff.h"
#include "platform/platform.h"
#include "platform/programdir.h"
#include "platform/regularfile.h"
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

// Refuses, before Qt decodes anything, a file of the formats whose Qt readers build a
// picture of the header's size whatever the file holds: a BMP or TIFF whose pixel data
// reaches past its end (the rest of the picture would be memory never filled), a TIFF of
// deep samples in separate planes, a JPEG cut short (padded with grey). kImagingOk or the
// refusal's code; bmp receives the BMP header.
uint32_t CheckDeclaredData(const std::string& path, const QByteArray& format, BmpHeader& bmp) {
  if (format == "bmp") {
    if (!ReadBmpHeader(path, bmp)) return kImagingInvalidData;
    return BmpPixelDataFits(bmp) ? kImagingOk : kImagingDataMissing;
  }
  if (format == "tiff" || format == "tif") return TiffCheckForGeneralLibrary(path);
  if (format == "jpeg" || format == "jpg") {
    return JpegEndsAfterLastScan(path) ? kImagingOk : kImagingDataMissing;
  }
  return kImagingOk;
}

// Whether the picture's decoding (bytesPerPixel), its conversion to 32 bits, the bitmap
// and the caller's float image fit the memory available together.
bool PictureFitsMemory(const QSize& size, uint64_t decodeBytesPerPixel,
                       uint64_t floatBytesPerPixel) {
  const uint64_t pixels = uint64_t(size.width()) * uint64_t(size.height());
  if (pixels > INT32_MAX / 4) return false;
  return MemoryAllows(pixels * (decodeBytesPerPixel + 4 + floatBytesPerPixel) +
                      PictureBytes(uint64_t(size.width()), uint64_t(size.height()), 0));
}
}  // namespace

ImagingLoad QtImaging::Load(const std::string& path, uint64_t floatBytesPerPixel) {
  ImagingLoad out;
  // A pipe or a device would block the reader or never end.
  if (KindOfFile(path) != FileKind::Regular) {
    out.code = kImagingFileNotFound;
    return out;
  }
  QImageReader reader(QString::fromStdString(path));
  reader.setAutoTransform(false);
  const QSize size = reader.size();
  if (!size.isValid() && !reader.canRead()) {
    out.code = ReaderCode(reader.error());
    return out;
  }
  const QByteArray format = reader.format().toLower();
  BmpHeader bmp;
  out.code = CheckDeclaredData(path, format, bmp);
  if (out.code != kImagingOk) return out;
  // The whole image's need is checked once, before decoding; Qt's own allocation limit
  // follows the same figure.
  const int decodeBits = QImage::toPixelFormat(reader.imageFormat()).bitsPerPixel();
  const uint64_t decodeBytes = decodeBits > 0 ? uint64_t(decodeBits + 7) / 8 : 16;
  if (size.isValid() && !PictureFitsMemory(size, decodeBytes, floatBytesPerPixel)) {
    out.code = kImagingOutOfMemory;
    return out;
  }
  const uint64_t available = GetPlatform().Memory().availPhys;
  QImageReader::setAllocationLimit(int(std::clamp<uint64_t>(available >> 20, 1, INT_MAX)));
  QImage image;
  if (!reader.read(&image) || image.isNull()) {
    out.code = ReaderCode(reader.error());
    return out;
  }
  // A format that gives no size before decoding is checked once its size is known.
  if (!size.isValid() && !PictureFitsMemory(image.size(), 0, floatBytesPerPixel)) {
    out.code = kImagingOutOfMemory;
    return out;
  }
  // BMP keeps the depth its header states, so that palette and 16-bit files are refused as
  // they always were; every other format is decoded to true colour, with alpha or without.
  out.depth = format == "bmp" ? bmp.bitCount : (image.hasAlphaChannel() ? 32 : 24);
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
  // Encoded in memory, then written through the program's one replacing writer, so that
  // these formats keep the file's mode, follow links and spare write-protected files as
  // every other format does.
  QByteArray encoded;
  QBuffer buffer(&encoded);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (!writer.write(picture)) {
    return writer.error() == QImageWriter::UnsupportedFormatError ? kImagingUnknownFormat
                                                                  : kImagingWriteFailed;
  }
  const bool written = WriteFileReplacing(path, [&encoded](std::FILE* f) {
    return std::fwrite(encoded.constData(), 1, size_t(encoded.size()), f) == size_t(encoded.size());
  });
  return written ? kImagingOk : kImagingWriteFailed;
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
      QStringList names = {p};
      // FITS files go by three extensions; the filter texts name only the first.
      if (p.compare(QStringLiteral("*.FIT"), Qt::CaseInsensitive) == 0) {
        names << QStringLiteral("*.FITS") << QStringLiteral("*.FTS");
      }
      for (const QString& name : names) {
        for (const QString& variant : {name, name.toLower(), name.toUpper()}) {
          if (!patterns.contains(variant)) patterns << variant;
        }
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
