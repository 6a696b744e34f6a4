// The file commands' binding table: every command src/fileio handles, with its handler
// and, where it differs from the descriptor's enable rule, its update handler.
#include "app/imageview.h"
#include "fileio/batch.h"
#include "fileio/imagefile.h"

void RegisterFileCommands() {
  using Id = CommandId;
  using V = CImageView;
  // Recall is always enabled: it gives the layer float data.
  static const CommandEntry rows[] = {
      {Id::OpenImage, OnOpenImage, nullptr},
      {Id::Refresh, OnRefresh, &V::OnUpdateFilePresent},
      {Id::SaveImageAs, OnSaveImageAs, &V::OnUpdateNeedsBitmap},
      {Id::MoveToRecycleBin, OnMoveToRecycleBin, &V::OnUpdateFilePresent},
      {Id::NoFloatingPointBuffersOnRead, OnNoFloatBuffersOnRead, &V::OnUpdateNoFloatOnRead},
      {Id::CommandLineOpen, OnCommandLineOpen, nullptr},
      {Id::FileInformation, OnFileInformation, &V::OnUpdateNeedsBitmap},
      {Id::DeleteAllScratchFiles, OnDeleteAllScratchFiles, nullptr},
      {Id::AddZep1Fdib, OnAddSlot, &V::OnUpdateNeedsFloat},
      {Id::AddZep2Fdib, OnAddSlot, &V::OnUpdateNeedsFloat},
      {Id::SubtractZep1Fdib, OnSubtractSlot, &V::OnUpdateNeedsFloat},
      {Id::SubtractZep2Fdib, OnSubtractSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep1Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep2Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep3Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep4Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep5Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep6Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep7Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep8Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::StoreZep9Fdib, OnStoreSlot, &V::OnUpdateNeedsFloat},
      {Id::RecallZep1Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep2Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep3Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep4Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep5Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep6Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep7Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep8Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::RecallZep9Fdib, OnRecallSlot, &V::OnUpdateAlways},
      {Id::BatchOperation, OnBatchOperation, &V::OnUpdateAlways},
      {Id::SequentialLoad, OnSequentialLoad, &V::OnUpdateAlways},
      {Id::NewSequence, OnSequentialLoadNew, &V::OnUpdateAlways},
      {Id::SequenceBack, OnSequentialLoadBack, &V::OnUpdateAlways},
      {Id::AnimateSequence, OnAnimateSequence, &V::OnUpdateAnimate},
  };
  CImageView::RegisterCommands(rows);
}
