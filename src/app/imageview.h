#pragma once
// `CImageView`: one image window. It holds an image in up to two layers (a float colour
// image and its display bitmap each), runs every image command through one dispatcher,
// and keeps the texts its status panes and menu captions show. Nothing here knows the
// toolkit: a ViewHost shows the window, the process Ui shows dialogs and panes.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "app/commandstate.h"
#include "app/curveeditor.h"
#include "app/flags.h"
#include "app/viewhost.h"
#include "image/fileinfo.h"
#include "image/fpbuffer.h"
#include "image/noiseprofile.h"
#include "image/rgbbuffer.h"
#include "numeric/bitmask.h"
#include "numeric/matrixarray.h"
#include "params/commandids.h"

struct Point {
  int32_t x = 0, y = 0;
};

// The keys the image window reads itself (everything else reaches it as a command).
enum class InputKey {
  Shift,
  Ctrl,
  Left,
  Right,
  Up,
  Down,
  Keypad2,
  Keypad4,
  Keypad6,
  Keypad8,
  Other
};

class CImageView;
struct PageSetup;
struct PrintPlacement;

// A command's handler and update handler: free functions of the window (OnXxx and
// OnUpdateXxx of an operation family), members of CImageView, or any callable.
using CommandHandler = std::function<void(CImageView&, int id)>;
using UpdateHandler = std::function<void(CImageView&, CommandState& state, int id)>;

// One row of the command table, and of a family's binding table: the command, its handler
// (null until the operation exists) and its update handler (null: the enable rule of the
// command's descriptor; a descriptor rule Always: always enabled).
struct CommandEntry {
  CommandId id;
  CommandHandler handler;
  UpdateHandler update;
};

class CImageView {
 public:
  static constexpr int kMaxViews = 10;

  explicit CImageView(ViewHost* host = nullptr);
  ~CImageView();
  CImageView(const CImageView&) = delete;
  CImageView& operator=(const CImageView&) = delete;

  // --- Commands ---

  // Offers a command to its update handler and, when enabled, runs its handler. A
  // disabled command is dropped without a message. Returns false when this window has no
  // handler for the id (the frame may handle it).
  bool Dispatch(int id);
  bool Dispatch(CommandId id) { return Dispatch(static_cast<int>(id)); }
  // The update handler's verdict on a command, for menus and for tests.
  CommandState QueryCommand(int id);
  CommandState QueryCommand(CommandId id) { return QueryCommand(static_cast<int>(id)); }
  // The same for a menu item: a command without a handler yet is greyed.
  CommandState QueryMenuItem(int id);
  CommandState QueryMenuItem(CommandId id) { return QueryMenuItem(static_cast<int>(id)); }
  // Whether the window has a row for the id at all.
  static const CommandEntry* FindCommand(int id);
  static std::vector<int> CommandIds();
  // Gives commands their handlers from a library built above this one: the file commands
  // of src/fileio and each operation family of src/ops pass the rows of their binding
  // table here, all through RegisterOperations() (ops/operations.h), which main(), zep-run
  // and the tests call before the first command. A row replaces the handler of its id, and
  // its update handler when it has one; an id without a row gets one.
  static void RegisterCommands(std::span<const CommandEntry> rows);

  // The common pattern of an operation on the current layer's float image: replay copies
  // of the settings its descriptor says a step keeps, the pages of its menu path (the
  // first with the focus on row), the Ctrl selection, the process timer, the algorithm and
  // the refresh. A cancel, a failure or exhausted memory leaves the image the window had
  // before the command. Returns true when the algorithm ran to its end.
  bool RunFloatOperation(int id, const std::function<void(fpbuffer&)>& algorithm, int row = 1);
  // Steps 1 to 3 of that pattern alone, for handlers with dialogs of their own after the
  // pages (false: the user cancelled, and the command stops); pages and dialogs are
  // skipped under F2/F3, and Ctrl is looked at after the last one. True when the operation
  // should run now.
  bool PrepareOperation(int id, const std::function<bool()>& dialogs = nullptr, int row = 1);
  // Steps 4 onwards of RunFloatOperation: the timed algorithm on the current layer's float
  // image, with the recovery and the refresh. With monitor the process timer may put the
  // monitor to sleep (the long enlargements). With keepsImage the algorithm itself leaves
  // the image as it was whenever it does not complete, and no copy of it is kept.
  bool RunOnFloat(const std::function<void(fpbuffer&)>& algorithm, bool monitor = true,
                  bool keepsImage = false);

  // --- Refresh ---

  // After an operation on float data: renders the current layer into its display bitmap
  // (a new one when the size changed), reports completion, repaints, updates menu and
  // status, and clears F2Active, F3Active and CtrlHeld. Without report (a command that was
  // cancelled or failed) no time is shown and no sound plays.
  void RefreshDisplay(bool sound, bool report = true);
  // The recovery from exhausted memory on the float paths.
  void HandleOutOfMemory();
  void DestroyDisplayDib();
  // Rewrites the menu captions and the six status panes.
  void UpdateStatus();
  void PopdownMenu(int n);
  // The completion report of the last timed operation: elapsed time, monitor, sound.
  void ReportCompletion(bool sound);
  // Makes a command the current F2/F3 operation; with push it enters the operation list
  // (or, when there already, becomes its current entry).
  void SelectOperation(int id, bool push);
  void SelectOperation(CommandId id, bool push) { SelectOperation(static_cast<int>(id), push); }
  // Makes list entry n (1-25) current without reordering the list.
  void SelectListEntry(int n);
  // Re-sends the current operation as F2 (forward) or F3 (inverse), appending a program
  // step while recording.
  void SendProgrammedOperation(bool inverse);

  // --- Layers ---
  fpbuffer& currentLayer() { return layers[current]; }
  fpbuffer& otherLayer() { return layers[1 - current]; }
  DisplayBitmap& currentBitmap() { return bitmaps[current]; }
  DisplayBitmap& otherBitmap() { return bitmaps[1 - current]; }
  bool HasFloat() { return currentLayer().n > 0; }
  bool HasBitmap() { return !currentBitmap().empty(); }
  bool HasMask() { return currentLayer().mask.present(); }
  bool Layer2Exists() { return !bitmaps[1].empty(); }

  // --- State ---
  std::array<fpbuffer, 2> layers;
  std::array<DisplayBitmap, 2> bitmaps;
  int current = 0;  // index of the current layer; the other is 1 - current

  int32_t filterIndex = 0;
  int32_t originX = 0, originY = 0;
  int32_t panX = 0, panY = 0;
  int32_t channelView = 0;
  double fitZoom = 1.0;
  std::string filePath, programFileName, profileFileName;
  std::string dimensionsText, elapsedText, pixelInfoText;
  std::string channelLettersText = "XYZ";
  std::string frameTitle;
  std::string operationName = "NoOp";
  const char* layerText = "Layer 1 of 1";
  const char* colourSpaceName = "RGB";
  std::array<const char*, 4> channelLetters{"", "R", "G", "B"};  // channels 4, 1, 2, 3
  Point clickPoint, dragStart, dragEnd, currentPoint;
  Point dragStartWindow, dragEndWindow, dragPreviousEndWindow;
  std::array<Point, 5> clickHistory{};
  std::array<float, 4> currentColour{};
  int32_t queueIndex = 0;
  std::array<Point, 5> queuePoints{};
  std::array<std::array<float, 4>, 5> queueColours{};
  int64_t startClock = 0, endClock = 0;  // startClock stays 0 until a command is timed
  int32_t f2OperationId = int(CommandId::NoOp), f3OperationId = int(CommandId::NoOp);
  bool showMaskedArea = false, showUnmaskedArea = true, showBottomThroughMask = false,
       showCombined = false, showDifference = false, cropBothLayers = false, normalView = true;
  std::array<bool, 4> savedViewSwitches{};
  bool paintMode = false, savedPaintMode = false, fitToWindow = false, filePresent = false;
  bitmask selection;
  ImageFileInfo fileInfo;
  std::vector<std::string> sequence;  // paths of a loaded sequence, in the order shown
  int32_t sequenceIndex = -1;         // of the file shown; -1 before the first
  // Whether the last RunOnFloat ended without completing (cancelled, failed, out of
  // memory), for callers that send a command and must know how it went (batches).
  bool operationFailed = false;
  matrixarray alignmentTemplate;
  // The brightness/contrast template: per channel the level RMS values, and the mean and
  // RMS of the residual, meaningful while brightnessTemplate[0] has elements.
  std::array<matrix, 3> brightnessTemplate;
  std::array<float, 3> brightnessMean{}, brightnessRms{};
  // The custom-curve editor; open, it holds the image of the layer it shows on.
  CurveEditor curveEditor;
  // The measured noise Fast Noise Removal thresholds by; it outlives image changes.
  NoiseProfile noiseProfile;
  // The image as it was before seam-carving marks were painted into its pixel values;
  // the carving uses it while it has the layer's size.
  fpbuffer seamUnmarked;

  // Menu-bar captions.
  const char* layerCaption = "Layer(Off)";
  const char* maskCaption = "Mask(Off)";
  const char* paintCaption = "Paint(Off)";
  const char* condCaption = "Cond( On)";

  ViewHost* host = nullptr;

  // --- Painting (paint.cpp) ---

  // Composes what a client of cw x ch pixels shows and returns it: a bottom-up 24-bit
  // bitmap of the client's size. A minimised client (cw or ch 0) is not painted and gets
  // an empty bitmap. During a crop drag the picture is not composed again: only the rubber
  // band is moved on the last one.
  const DisplayBitmap& Paint(int cw, int ch);
  // The image pixel shown under a window point (y counted from the top), clamped into the
  // image; the point is changed in place.
  void WindowToImage(Point& p) const;
  // The window pixel that shows an image pixel (image y counted from the bottom row).
  Point ImageToWindow(Point p) const;
  // Redraws the curve editor into its layer's display bitmap; the fitted curve's smallest
  // step when it must rise everywhere, else 1.
  float DrawCurveEditor();
  // A left-button drag at a window point moves the nearest control point's value, unless
  // the curve would then fall below the editor's threshold.
  void DragCurveHandle(Point p);
  // A left drag is moving a handle of the curve editor: the pointer shows a hand.
  bool CurveHandCursorShown() const;
  int32_t clientWidth = 0, clientHeight = 0;  // of the last paint
  DisplayBitmap paintBitmap;                  // the picture of the last paint
  bool bandDrawn = false;  // the paint bitmap holds a rubber band to dragPreviousEndWindow

  // --- Mouse and keyboard (input.cpp) ---
  // Window points are client coordinates, y counted from the top. The widget calls these
  // from its events; with no widget (tests) they are called directly.
  void OnKeyDown(InputKey key);
  void OnKeyUp(InputKey key);
  void OnLeftButtonDown(Point p);
  void OnLeftButtonUp(Point p);
  void OnRightButtonDown(Point p);
  void OnRightButtonUp(Point p);
  void OnMiddleButtonDown(Point p);
  void OnMiddleButtonUp(Point p);
  void OnMouseMove(Point p);
  // The newest of the five last left clicks goes to the end; the oldest drops.
  void PushClickHistory(Point p);
  // The colour queue: entries 0-3 move down one place, entry 4 drops, the new one is 0.
  void PushColorQueue(int column, int row, float c0, float c1, float c2, float c3);
  // The current colour and the five queue colours into RGB, or out of it, through the
  // current layer's conversions (a colour-space change goes through RGB); the points stay.
  void QueueColorsToRgb();
  void QueueColorsFromRgb();
  // Sets the selection bits of the brush disk under a window point (nothing without a
  // selection, that is outside a paint drag).
  void PaintDisk(Point p);
  // The brush cursor planes (AND, XOR) as monochrome cursors store them; the widget shows
  // them while paint mode is on.
  void BuildCursorPlanes(int style);
  bool BrushCursorShown() const { return paintMode && cursorXor.n > 0; }
  bytemask cursorAnd, cursorXor;

  // --- Handlers (the command table points at them) ---
  void OnHomeKey(int id);
  void OnEnterKey(int id);
  void OnCtrlArrow(int id);
  void OnF10(int id);
  void OnPaintMode(int id);
  void OnCursorRadius(int id);
  void OnDestroyFloatingPointBuffers(int id);
  void OnCreateFloatingPointBuffer(int id);
  void OnReopenDialogBox(int id);
  void OnFocusCommand(int id);
  // The window gained the focus: F2 and F3 take the operation list's current entry, so
  // every window follows the one list, and menu and status show this window.
  void OnSetFocus();
  void OnSoundNotification(int id);
  void OnMonitorOption(int id);
  void OnAutomaticQuery(int id);
  void OnAutomaticPopdown(int id);
  void OnKeypadChannel(int id);
  void OnF2ProgrammedOperation(int id);
  void OnF3ProgrammedOperation(int id);
  void OnVariantF2F3(int id);
  void OnPriorOperation(int id);
  void OnNextOperation(int id);
  void OnDeleteCheckedOp(int id);
  void OnDeleteAllOps(int id);
  void OnOperationEntry(int id);
  void OnConditionalOperations(int id);
  void OnSetPropertiesToDefault(int id);
  void OnSetOtherDefaults(int id);
  void OnRecordProgram(int id);
  void OnDeleteLastStep(int id);
  void OnRunProgram(int id);
  void OnSaveProgram(int id);
  void OnLoadProgram(int id);
  void OnFullScreen(int id);
  void OnSizedToFit(int id);
  void OnViewingNormal(int id);
  void OnShowCombined(int id);
  void OnShowDifference(int id);
  void OnShowBottomThroughMask(int id);
  void OnHistogram(int id);
  void OnPrintImage(int id);
  void OnCtrlPrint(int id);

  // --- Update handlers ---
  void OnUpdateAlways(CommandState& s, int id);
  void OnUpdateNeedsFloat(CommandState& s, int id);
  void OnUpdateNeedsBitmap(CommandState& s, int id);
  void OnUpdateColourSpace(CommandState& s, int id);
  void OnUpdateChannel(CommandState& s, int id);
  void OnUpdateQueueEntry(CommandState& s, int id);
  void OnUpdateViewingNormal(CommandState& s, int id);
  void OnUpdateSecondLayer(CommandState& s, int id);
  void OnUpdateAnimate(CommandState& s, int id);
  void OnUpdateCreateMask(CommandState& s, int id);
  void OnUpdateFilePresent(CommandState& s, int id);
  void OnUpdateMaskViews(CommandState& s, int id);
  void OnUpdateNeedsMask(CommandState& s, int id);
  void OnUpdateLayerMasks(CommandState& s, int id);
  void OnUpdateCropBothLayers(CommandState& s, int id);
  void OnUpdateTwoLayers(CommandState& s, int id);
  void OnUpdateBottomThroughMask(CommandState& s, int id);
  void OnUpdateCombinedDifference(CommandState& s, int id);
  void OnUpdateToggleNormalView(CommandState& s, int id);
  void OnUpdateLayer2Float(CommandState& s, int id);
  void OnUpdateOtherFloat(CommandState& s, int id);
  void OnUpdateOtherLayerFloat(CommandState& s, int id);
  void OnUpdateBlockAlignment(CommandState& s, int id);
  void OnUpdateStacking(CommandState& s, int id);
  void OnUpdateRecordProgram(CommandState& s, int id);
  void OnUpdateDestroyFloat(CommandState& s, int id);
  void OnUpdateCreateFloat(CommandState& s, int id);
  void OnUpdateNoFloatOnRead(CommandState& s, int id);
  void OnUpdateReopenIfs(CommandState& s, int id);
  void OnUpdateRecordTexture(CommandState& s, int id);
  void OnUpdateTextureInpainting(CommandState& s, int id);
  void OnUpdateCreateNoiseProfile(CommandState& s, int id);
  void OnUpdateNoiseProfile(CommandState& s, int id);
  void OnUpdateAlignmentTemplate(CommandState& s, int id);
  void OnUpdateBrightnessTemplate(CommandState& s, int id);
  void OnUpdateAvoidanceRegions(CommandState& s, int id);
  void OnUpdateCustomCurve(CommandState& s, int id);
  void OnUpdateOption(CommandState& s, int id);
  void OnUpdateOperationEntry(CommandState& s, int id);
  void OnUpdateDeleteLastStep(CommandState& s, int id);
  void OnUpdateRunProgram(CommandState& s, int id);
  void OnUpdateSaveProgram(CommandState& s, int id);
  void OnUpdatePaintMode(CommandState& s, int id);
  void OnUpdateCursorRadius(CommandState& s, int id);

 private:
  // The two halves of Paint, on paintBitmap (cleared to the background, cw x ch).
  void PaintActualSize(const DisplayBitmap& picture, int cw, int ch);
  void PaintFitted(const DisplayBitmap& picture, int cw, int ch);
  // Prints the current bitmap at place on one page: the printer's stretching or, in print
  // modes 1 and 2, the picture resampled to the dots first. True when the page was printed.
  bool PrintPicture(const PageSetup& page, const PrintPlacement& place);
  // F2, F3 and the operation name from the operation list's current entry.
  void TakeCurrentOperation();
  // Takes the first free slot of the window table.
  int slot_ = -1;
};

// The command line the program was started with, for the command-line open.
std::string& CommandLine();

// The process-wide table of open image windows (linked panning uses it).
std::array<CImageView*, CImageView::kMaxViews>& ViewTable();

// Whether the main frame shows the image full screen (process-wide, starts off).
bool& FullScreen();

// The six matrices of the texture model, process-wide (texture inpainting fills them).
std::array<matrix, 6>& TextureModel();

// Wait cursor, start clock and, for long operations, the monitor put to sleep; the
// destructor ends the wait cursor. With Quiet set nothing happens.
class ProcessTimer {
 public:
  ProcessTimer(int64_t& startClock, CImageView* window);
  ~ProcessTimer();
  ProcessTimer(const ProcessTimer&) = delete;
  ProcessTimer& operator=(const ProcessTimer&) = delete;

 private:
  bool waitCursor_ = false;
};

// The unit modifiers of the Ctrl and Shift variants of F2/F3: a tenth or ten times a
// value, or the matching powers. The Ctrl variant wins when both are set.
double ApplyModifierScale(float x);
double ApplyModifierPower(float x);
double ApplyModifierInversePower(float x);

// Makes a layer's bitmap width x height (black) unless it has that size already; when
// memory runs out it says so and returns false.
bool SizeBitmap(DisplayBitmap& bitmap, int width, int height);

// Crops the current layer to the w x h block whose lower-left pixel is (left, bottom), and
// the other layer with it when cropping two layers is set and both have one size; the pan
// offsets go to 0 and the window is refreshed. A failure leaves both layers as they were.
// The Crop command and the right-button drag both crop here.
void CropLayers(CImageView& v, int left, int bottom, int w, int h);

// The elapsed-time text: "%.2f secs, %.2f mins., %.2f hrs., %.2f days".
std::string ElapsedText(int64_t milliseconds);

// The status pane texts of one window state, for the panes and for tests.
std::string DimensionsText(int width, int height);
