#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A picture in memory: 32-bit pixels 0xTTRRGGBB, rows top first, no padding. The top byte is
// transparency, the inverse of opacity: 0 opaque, 255 fully transparent.
class CPicture {
public:
    // Load modes: how an image is fitted to a required width and height.
    enum LoadMode { kLoadNone = 0, kLoadResize = 1, kLoadCrop = 2, kLoadClip = 3, kLoadFit = 4, kLoadAspect = 5 };
    // Load results (shown to the operator as message 21300 + result).
    enum LoadResult { kLoadOk = 0, kLoadCannotOpen = 1, kLoadInvalid = 3 };

    CPicture() = default;
    // Pixels start at 0 (opaque black): an uncleared buffer would only hide mistakes.
    CPicture(int width, int height);
    CPicture(const CPicture& other);
    CPicture& operator=(const CPicture& other);
    CPicture(CPicture&& other) noexcept;
    CPicture& operator=(CPicture&& other) noexcept;
    virtual ~CPicture();

    // Reallocates to width x height (pixels 0); a negative or huge size gives 0 x 0 and false.
    bool Create(int width, int height);
    void Clear();  // 0 x 0

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    bool Empty() const { return m_width <= 0 || m_height <= 0; }
    uint32_t* Pixels() { return m_pixels.get(); }
    const uint32_t* Pixels() const { return m_pixels.get(); }
    uint32_t* Row(int y) { return m_pixels.get() + size_t(y) * size_t(m_width); }
    const uint32_t* Row(int y) const { return m_pixels.get() + size_t(y) * size_t(m_width); }
    uint32_t& At(int x, int y) { return Row(y)[x]; }
    uint32_t At(int x, int y) const { return Row(y)[x]; }

    // GIF sources: frames in the file and the frame delay in milliseconds; otherwise 0.
    int FrameCount() const { return m_frameCount; }
    int FrameDelay() const { return m_frameDelay; }

    // Loads an image file (BMP, TGA, JPEG, PNG, GIF, told from the content) and fits it to
    // width x height by the load mode; frame -1 is the default frame. Returns a LoadResult;
    // on failure the picture is left empty. With wantAlpha a BMP also takes its black/white
    // companion ("name_W.bmp" for "name.bmp" and the other way round) into account.
    int Load(const std::string& path, bool wantAlpha, int mode, int width, int height, int frame = -1);
    // The same from a file already in memory (no companion look-up).
    int LoadFromMemory(const uint8_t* data, size_t size, bool wantAlpha, int mode, int width, int height,
                       int frame = -1);

    // 0 on success. PNG is 32-bit when any pixel is transparent, else 24-bit; BMP is 24-bit.
    int SavePNG(const std::string& path) const;
    int SaveBMP(const std::string& path) const;

    // Halves both sides (2 x 2 byte-wise averages; an odd last row or column is dropped).
    void DownscaleByTwo();
    // Doubles both sides, each pixel becoming a 2 x 2 block.
    void UpscaleByTwo();

    // Fill a rectangle (clipped; w or h < 0 means the whole picture). mode 0 sets the colour,
    // mode 1 lays it over the pixels by its transparency.
    void Fill(uint32_t colour, int mode = 0, int x = 0, int y = 0, int w = -1, int h = -1);
    // Copy or blend a w x h block of src at (sx, sy) to (dx, dy); clipped to both pictures.
    // Blend skips source pixels of transparency 240 and above.
    void CopyRect(const CPicture& src, int dx, int dy, int sx, int sy, int w, int h);
    void BlendRect(const CPicture& src, int dx, int dy, int sx, int sy, int w, int h);
    // Nearest-neighbour copy of the whole of src into the rectangle (x, y, w, h) of this picture;
    // swapAxes transposes the source for rotated placement.
    void ScaledCopy(const CPicture& src, int x, int y, int w, int h, bool swapAxes = false);
    // 8 x 8 cells of opaque white and 0xA0A0A0.
    void Checkerboard();
    // Each transparency byte t becomes 255 - t.
    void InvertTransparency();

    void SetFrameInfo(int count, int delayMs) {
        m_frameCount = count;
        m_frameDelay = delayMs;
    }

private:
    int LoadImpl(const uint8_t* data, size_t size, bool wantAlpha, int mode, int width, int height, int frame,
                 bool* isBmp);

    int m_width = 0;
    int m_height = 0;
    std::unique_ptr<uint32_t[]> m_pixels;
    int m_frameCount = 0;
    int m_frameDelay = 0;
};

// A picture text can be drawn into (text labels draw into a copy of their background).
class CPictureBMP : public CPicture {
public:
    CPictureBMP() = default;
    explicit CPictureBMP(const CPicture& src) : CPicture(src) {}
};

// Raw device picture files: the buffer's bytes, no header.
// Size of the raw file for a format, line length and height.
size_t RawPictureFileSize(int format, int lineLength, int height);
// 0 success, 1 cannot open, 3 short file. Reads exactly the raw size into buf (bufSize at least that).
int ReadRawPictureFile(int format, const std::string& path, uint8_t* buf, size_t bufSize, int lineLength, int height);
// 0 success, 1 cannot create or write. Writes exactly the raw size from buf.
int WriteRawPictureFile(int format, const std::string& path, const uint8_t* buf, size_t bufSize, int lineLength,
                        int height);
