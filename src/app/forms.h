#pragma once
// The 21 windows of the program, created once at start-up in a fixed order and kept for the
// whole run; each is reachable through the global reference named after it.
class TMainForm;
class TResultImageForm;
class TImageForm;
class THistoGrisForm;
class TImageSizeForm;
class TAuthorForm;
class TEnglishInfoForm;
class TFrenchInfoForm;
class TCopyrightForm;
class TSpanishInfoForm;
class TTempImageForm;
class TNumBandForm;
class TSegmentationForm;
class TSegmentDefinitionForm;
class TCheckNumCodeForm1;
class TCheckNumCodeForm2;
class TCheckNumCodeForm3;
class TInfoSegmSSForm;
class TEquipopInfoForm;
class TDefinitionInfoForm;
class TReferenceForm;
struct DialogSeam;

extern TMainForm* MainForm;
extern TResultImageForm* ResultImageForm;
extern TImageForm* ImageForm;
extern THistoGrisForm* HistoGrisForm;
extern TImageSizeForm* ImageSizeForm;
extern TAuthorForm* AuthorForm;
extern TEnglishInfoForm* EnglishInfoForm;
extern TFrenchInfoForm* FrenchInfoForm;
extern TCopyrightForm* CopyrightForm;
extern TSpanishInfoForm* SpanishInfoForm;
extern TTempImageForm* TempImageForm;
extern TNumBandForm* NumBandForm;
extern TSegmentationForm* SegmentationForm;
extern TSegmentDefinitionForm* SegmentDefinitionForm;
extern TCheckNumCodeForm1* CheckNumCodeForm1;
extern TCheckNumCodeForm2* CheckNumCodeForm2;
extern TCheckNumCodeForm3* CheckNumCodeForm3;
extern TInfoSegmSSForm* InfoSegmSSForm;
extern TEquipopInfoForm* EquipopInfoForm;
extern TDefinitionInfoForm* DefinitionInfoForm;
extern TReferenceForm* ReferenceForm;

// Creates the 21 windows in order (the main window first, every other one owned by it), shows
// the main window and its three image windows, and returns the main window. Deleting the main
// window deletes them all and clears the references.
TMainForm* CreateForms(const DialogSeam& seam);
void ClearFormReferences();
