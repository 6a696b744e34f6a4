// The pages of saving and opening files, batch runs and animation, and the program steps.
#include "params/pages_build.h"
#include "params/settings.h"
#include "platform/format.h"

namespace pages {

void AddFilePages(std::vector<Page>& pages) {
  pages.push_back(MakePage(2, {Int(1, "Bit Depth per Channel", "pngBitDepth", {"8", "16"}),
                               Int(2, "Compression Level", "pngCompressionLevel", Seq(9, 0, -1))}));
  pages.push_back(MakePage(3, {Int(1, "Quality", "jpegQuality",
                                   {"100", "90", "80", "75", "70", "60", "50", "40", "30", "20"}),
                               Pick(2, "Color Space", "jpegColorSpace")}));
  pages.push_back(MakePage(4, {Pick(1, "Bit Depth per Channel", "fitsBitDepth")}));
  pages.push_back(
      MakePage(5, {Flag(1, "Overwrite Input File", "overwriteInputFile").OrElse(0),
                   [] {
                     PageRow r = Text(2, "Extension", "batchExtension",
                                      {"PNG", "JPG", "BMP", "FIT", "TIF", "GIF", "IFS"});
                     r.otherText = "PNG";
                     return r;
                   }(),
                   Text(3, "Suffix", "batchSuffix", {".Batch", ".0", ".1", ".2", ".3", ".4", ".5"}),
                   Int(4, "Maximum Characters", "maximumCharacters", {"10000", "50000", "100000"}),
                   Int(6, "Animation Delay, milliseconds", "animationDelay",
                       {"0", "2", "4", "16", "32", "64", "128", "256"}),
                   Pick(7, "Animation Mode", "animationMode"),
                   Flag(9, "Destroy Alig. Temp. at End", "destroyAlignmentTemplateAtEnd"),
                   Flag(10, "Destroy Cont. Temp. at End", "destroyContrastTemplateAtEnd")}));
  pages.push_back(MakePage(6, {Int(1, "Bit Depth per Channel", "tiffBitDepth", {"8", "16", "32"}),
                               Note(2, "(32 bit is floating point)")}));
  pages.push_back(MakePage(110, {Flag(1, "No Floating Point Buffers", "noFloatBuffersOnRead")}));
}

namespace {
// "%d.  %s": the step's number and the name of its slot, used or not.
std::string StepLabel(const Settings& record, int row, int first) {
  const int slot = first + row - 1;
  const Field& names = FieldNamed("stepNames");
  return Format("%d.  %.*s", slot + 1, static_cast<int>(ReadText(record, names, slot).size()),
                ReadText(record, names, slot).data());
}
Page StepsPage(int id, std::string (*labelOf)(const Settings&, int)) {
  Page p = MakePage(id, {});
  for (int row = 1; row <= 16; ++row) p.rows.push_back(Note(row, ""));
  p.labelOf = labelOf;
  return p;
}
}  // namespace

// The steps of the recorded program are only looked at here: the boxes stay empty,
// nothing is read back and Restore Defaults has nothing to restore.
void AddProgramPages(std::vector<Page>& pages) {
  pages.push_back(StepsPage(101, [](const Settings& s, int row) { return StepLabel(s, row, 0); }));
  pages.push_back(StepsPage(102, [](const Settings& s, int row) { return StepLabel(s, row, 16); }));
}

}  // namespace pages
