#pragma once
// The Geom menu: crop, flips, the quarter turn, rolls, one-point registration, Create
// Blank Image, rotation by any angle and the two- and four-point registrations.
class CImageView;

namespace ops::geometry {
void OnCrop(CImageView& v, int id);
void OnSetForCroppingTwoLayers(CImageView& v, int id);
void OnRotate90Degrees(CImageView& v, int id);
void OnSelectRotate90(CImageView& v, int id);
void OnVerticalFlip(CImageView& v, int id);
void OnHorizontalFlip(CImageView& v, int id);
void OnCreateBlankImage(CImageView& v, int id);
void OnManualOnePointRegistration(CImageView& v, int id);
// Every roll id: the layer, the distance and the Ctrl path come from the id.
void OnRoll(CImageView& v, int id);
}  // namespace ops::geometry

namespace ops::geometry {
void OnRotateArbitraryAngle(CImageView& v, int id);
void OnManualTwoPointRegistration(CImageView& v, int id);
void OnManualFourPointRegistration(CImageView& v, int id);
}  // namespace ops::geometry
