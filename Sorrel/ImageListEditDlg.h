#pragma once
// The entry editor ("Edit Sequence Record"): the pattern file and the LUT file of one
// sequence entry, with a 128 x 128 preview of the result drawn into the entry's slot of
// the screen images.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Resource.h"
#include "SequenceFile.h"
#include "ui/Dialog.h"

class CImageListEditDlg : public CDialog {
 public:
  enum { IDD = IDD_IMAGE_LIST_EDIT };

  CImageListEditDlg(uint8_t* screenImages, int entryIndex, Image_Entry* entry, CDialog* pParent = nullptr);

  bool OnInitDialog() override;
  void OnPaint();
  void OnBrowsePattern();
  void OnBrowseLUT();
  void OnHelpInfo(const Event& e);
  void UpdatePreview();
  // A new 128 x 128 image of the bitmap at path; records its width, height and depth.
  std::unique_ptr<uint8_t[]> LoadPreviewBitmap(const std::string& path);
  // A new 128 x 128 image taken from the square image of side m_PreviewHeight.
  std::unique_ptr<uint8_t[]> ShrinkTo128(const uint8_t* image) const;

  uint8_t* m_pScreenImages;  // handed in by the caller and handed back unchanged
  int m_EntryIndex;
  Image_Entry* m_pEntry;     // the entry being edited, not owned
  std::string m_PatternPath;
  std::string m_LUTPath;
  int m_PreviewHeight = 0;
  int m_PreviewWidth = 0;
  int m_PreviewBitCount = 0;

 private:
  void Browse(const char* title, std::vector<std::pair<std::string, std::string>> filters, size_t bufferSize,
              std::string& path, int nameList, const std::string& entryPath);
  uint8_t* Slot() const;
};
