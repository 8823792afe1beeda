// CImage lifecycle: construction, copies, the release of everything a strip owns, and the
// millisecond delay of the blocking animations. (The accessors are single reads in Image.h.)
//
// Copies share the strip's objects (bitmaps, image lists, the dithering object) instead of
// duplicating them: a copy shows exactly the pixels and masks of its source, and each object is
// deleted once, by the last strip that still holds it. The count of extra holders lives in one
// process-wide table (image_internal::Holders).
// Nothing in the library changes a held object's pixels after Create has finished with it (the
// drawing operations only read, and set an image list's background colour before every draw), so
// sharing is invisible to the strips that share.
#include "image/image_internal.h"

#include <DitherDib.h>

using image_internal::Holders;

// Never destroyed: strips with static storage are released after main has returned, and a table
// destroyed before them would count every held object as its last holder's.
HolderTable& image_internal::Holders() {
    static auto* table = new HolderTable;
    return *table;
}

CImage::CImage()
    : m_bImageListMethod(0), m_pDitherDib(nullptr), m_pBitmap(nullptr), m_pSemiBitmap(nullptr),
      m_pImageList(nullptr), m_pSemiImageList(nullptr), m_nImageNum(0), m_crTransparent(0x00FF0000),
      m_sizeBitmap(0, 0), m_sizeImage(0, 0) {}

CImage::CImage(const CImage& other)
    : m_bImageListMethod(other.m_bImageListMethod),
      m_pDitherDib(Holders().Hold(other.m_pDitherDib)), m_pBitmap(Holders().Hold(other.m_pBitmap)),
      m_pSemiBitmap(Holders().Hold(other.m_pSemiBitmap)),
      m_pImageList(Holders().Hold(other.m_pImageList)),
      m_pSemiImageList(Holders().Hold(other.m_pSemiImageList)), m_nImageNum(other.m_nImageNum),
      m_crTransparent(other.m_crTransparent), m_sizeBitmap(other.m_sizeBitmap),
      m_sizeImage(other.m_sizeImage) {}

CImage& CImage::operator=(const CImage& other) {
    if (this == &other) {
        return *this;
    }
    // Take the new holds before dropping the old ones: the two strips may already share objects.
    CDitherDib* ditherDib = Holders().Hold(other.m_pDitherDib);
    CBitmap* bitmap = Holders().Hold(other.m_pBitmap);
    CBitmap* semiBitmap = Holders().Hold(other.m_pSemiBitmap);
    CImageList* imageList = Holders().Hold(other.m_pImageList);
    CImageList* semiImageList = Holders().Hold(other.m_pSemiImageList);
    DeleteObject();
    m_pDitherDib = ditherDib;
    m_pBitmap = bitmap;
    m_pSemiBitmap = semiBitmap;
    m_pImageList = imageList;
    m_pSemiImageList = semiImageList;
    m_bImageListMethod = other.m_bImageListMethod;
    m_nImageNum = other.m_nImageNum;
    m_crTransparent = other.m_crTransparent;
    m_sizeBitmap = other.m_sizeBitmap;
    m_sizeImage = other.m_sizeImage;
    return *this;
}

CImage::~CImage() {
    DeleteObject();
}

void CImage::DeleteObject() {
    image_internal::Release(m_pDitherDib);
    image_internal::Release(m_pBitmap);
    image_internal::Release(m_pSemiBitmap);
    image_internal::Release(m_pImageList);
    image_internal::Release(m_pSemiImageList);
}

void CImage::Delay(DWORD dwMilliseconds) {
    const DWORD start = GetTickCount();
    // The unsigned difference stays right when the tick count wraps past 2^32 during the wait.
    while (GetTickCount() - start < dwMilliseconds) {
    }
}
