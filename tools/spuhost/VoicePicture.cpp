#include "spuhost/VoicePicture.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace
{
// The frame around the plot, in pixels. The left margin holds a three-digit voice
// number; the right one half of the widest time label, which sits centred on the
// tick at the end of the plot.
const int LeftMargin = 28;
const int RightMargin = 16;
const int TopMargin = 6;
const int BottomMargin = 20;

const int LaneHeight = 16;
const int BarPadding = 1; // above and below the bar, so that neighbouring bars stay apart

const int TickLength = 4;
const int LabelTop = 7;  // below the axis
const int LabelGap = 10; // the least room between two time labels
const int NumberGap = 5; // between a voice number and the plot

// The quietest level's shade, as a share of the way from white to the loudest.
const double LeastDepth = 1.0 / 3.0;

struct Rgb
{
    uint8_t r, g, b;
};

const Rgb White = {255, 255, 255};
const Rgb Shading = {243, 245, 249}; // the ground of every other lane
const Rgb Ink = {48, 48, 48};        // numbers and labels
const Rgb AxisInk = {96, 96, 96};
const Rgb Loudest = {16, 48, 128};

// A 5x7 font of the characters the picture writes, one byte a row, the leftmost
// pixel in bit 4.
const int GlyphWidth = 5;
const int GlyphHeight = 7;
const int GlyphAdvance = GlyphWidth + 1;

const uint8_t* glyph(char c)
{
    static const uint8_t Digits[10][GlyphHeight] = {
        {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, // 0
        {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}, // 1
        {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, // 2
        {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}, // 3
        {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, // 4
        {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}, // 5
        {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, // 6
        {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}, // 7
        {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, // 8
        {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}, // 9
    };
    static const uint8_t Seconds[GlyphHeight] = {0x00, 0x00, 0x0F, 0x10, 0x0E, 0x01, 0x1E};
    static const uint8_t Point[GlyphHeight] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x18};
    if (c >= '0' && c <= '9')
        return Digits[c - '0'];
    return c == 's' ? Seconds : c == '.' ? Point : nullptr;
}

// A point is two pixels wide and keeps the room after it as narrow, so that "1.5s"
// reads as one label.
int advance(char c)
{
    return c == '.' ? 3 : GlyphAdvance;
}

int textWidth(const std::string& text)
{
    int width = 0;
    for (char c : text)
        width += advance(c);
    return text.empty() ? 0 : width - 1;
}

// image: 3 bytes a pixel, imageWidth pixels a row. What falls outside it is cut
// off, so that a label at the edge needs no care from its caller.
void fill(std::vector<uint8_t>& image, int imageWidth, int x, int y, int w, int h, Rgb colour)
{
    const int imageHeight = static_cast<int>(image.size() / 3) / imageWidth;
    const int left = std::max(x, 0), right = std::min(x + w, imageWidth);
    const int top = std::max(y, 0), bottom = std::min(y + h, imageHeight);
    for (int row = top; row < bottom; ++row)
        for (int column = left; column < right; ++column)
        {
            uint8_t* pixel = &image[(static_cast<size_t>(row) * imageWidth + column) * 3];
            pixel[0] = colour.r;
            pixel[1] = colour.g;
            pixel[2] = colour.b;
        }
}

// Characters without a glyph leave a blank.
void drawText(std::vector<uint8_t>& image, int imageWidth, int x, int y, const std::string& text)
{
    int left = x;
    for (char c : text)
    {
        const uint8_t* rows = glyph(c);
        for (int row = 0; row < GlyphHeight && rows != nullptr; ++row)
            for (int column = 0; column < GlyphWidth; ++column)
                if ((rows[row] >> (GlyphWidth - 1 - column)) & 1)
                    fill(image, imageWidth, left + column, y + row, 1, 1, Ink);
        left += advance(c);
    }
}

// The square root lifts the quiet end, where a release tail spends most of its time.
Rgb barShade(uint16_t level)
{
    const double share = std::min(1.0, static_cast<double>(level) / VoicePicture::FullLevel);
    const double depth = LeastDepth + (1.0 - LeastDepth) * std::sqrt(share);
    auto mix = [depth](uint8_t from, uint8_t to) {
        return static_cast<uint8_t>(std::lround(from + (to - from) * depth));
    };
    return {mix(White.r, Loudest.r), mix(White.g, Loudest.g), mix(White.b, Loudest.b)};
}

// A tick's time: tenths where the ticks are less than a second apart.
std::string secondsLabel(double seconds, double step)
{
    char text[32];
    if (step < 1)
        std::snprintf(text, sizeof text, "%.1fs", std::floor(seconds * 10 + 0.5) / 10);
    else
        std::snprintf(text, sizeof text, "%.0fs", std::floor(seconds));
    return text;
}

// The finest step between ticks that keeps the labels apart: 0.1, 0.2, 0.5, 1, 2, 5,
// 10, 20, 30 s, 1, 2, 5, 10, 20, 30 min, 1 h, then 2, 5, 10 h, 20, 50, 100 h and on.
double tickStep(double seconds, int columns)
{
    static const double Steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1200, 1800, 3600};
    const double pixelsPerSecond = columns / seconds;
    for (double step : Steps)
        if (step * pixelsPerSecond >= textWidth(secondsLabel(seconds, step)) + LabelGap) // the widest label's
            return step;
    const double room = textWidth(secondsLabel(seconds, 1)) + LabelGap;
    for (double hours = 1;; hours *= 10)
        for (double times : {2.0, 5.0, 10.0})
            if (3600 * hours * times * pixelsPerSecond >= room)
                return 3600 * hours * times;
}

// What libpng writes to and the reason it stopped, when it did.
struct Sink
{
    FILE* file = nullptr;
    int error = 0;          // errno of a failed write; 0 when libpng itself gave up
    char message[160] = {}; // libpng's reason
};

void onError(png_structp png, png_const_charp message)
{
    Sink* sink = static_cast<Sink*>(png_get_error_ptr(png));
    std::snprintf(sink->message, sizeof sink->message, "%s", message);
    png_longjmp(png, 1);
}

// A warning changes nothing in the file, and the tool's output is not the place for it.
void onWarning(png_structp, png_const_charp) {}

// libpng's own writer says "Write Error" and loses errno; this one keeps it.
void onWrite(png_structp png, png_bytep data, png_size_t length)
{
    Sink* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, sink->file) != length)
    {
        sink->error = errno;
        png_error(png, "write error");
    }
}

void onFlush(png_structp png)
{
    Sink* sink = static_cast<Sink*>(png_get_io_ptr(png));
    if (std::fflush(sink->file) != 0)
    {
        sink->error = errno;
        png_error(png, "write error");
    }
}

// Apart from the caller so that a longjmp from libpng crosses no C++ object.
bool encode(png_structp png, png_infop info, png_bytepp rows, int width, int height)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}
} // namespace

// Defined for the places that take them by reference (std::clamp, a test's EXPECT_EQ).
const int VoicePicture::DefaultWidth;
const int VoicePicture::MinWidth;
const int VoicePicture::MaxWidth;
const uint16_t VoicePicture::FullLevel;

int VoicePicture::plotColumns(int width)
{
    return std::clamp(width, MinWidth, MaxWidth) - LeftMargin - RightMargin;
}

int VoicePicture::heightFor(int laneCount)
{
    return TopMargin + std::max(laneCount, 0) * LaneHeight + BottomMargin;
}

int VoicePicture::columnX(int column)
{
    return LeftMargin + column;
}

int VoicePicture::laneMiddleY(int lane)
{
    return TopMargin + lane * LaneHeight + LaneHeight / 2;
}

VoicePicture::VoicePicture(int width, double span)
    : pictureWidth(std::clamp(width, MinWidth, MaxWidth)),
      seconds(span > 0 && std::isfinite(span) ? span : 1.0)
{
}

void VoicePicture::addLane(int voice, const std::vector<uint16_t>& levels)
{
    Lane lane = {voice, levels};
    lane.levels.resize(static_cast<size_t>(plotColumns(pictureWidth)), 0);
    lanes.push_back(std::move(lane));
}

std::vector<uint8_t> VoicePicture::render() const
{
    const int w = pictureWidth;
    const int columns = plotColumns(w);
    std::vector<uint8_t> image(static_cast<size_t>(w) * height() * 3, 255);

    for (size_t i = 0; i < lanes.size(); ++i)
    {
        const int top = TopMargin + static_cast<int>(i) * LaneHeight;
        if (i % 2 == 1)
            fill(image, w, 0, top, LeftMargin + columns, LaneHeight, Shading);
        const std::string number = std::to_string(lanes[i].voice);
        drawText(image, w, LeftMargin - NumberGap - textWidth(number), top + (LaneHeight - GlyphHeight) / 2,
                 number);
        for (int column = 0; column < columns; ++column)
        {
            const uint16_t level = lanes[i].levels[static_cast<size_t>(column)];
            if (level > 0)
                fill(image, w, LeftMargin + column, top + BarPadding, 1, LaneHeight - 2 * BarPadding,
                     barShade(level));
        }
    }

    // The axis runs one pixel past the last column: time ends at that column's right edge.
    const int axis = TopMargin + static_cast<int>(lanes.size()) * LaneHeight;
    fill(image, w, LeftMargin, axis, columns + 1, 1, AxisInk);
    const double step = tickStep(seconds, columns);
    const long ticks = static_cast<long>(std::floor(seconds / step + 1e-9));
    for (long k = 0; k <= ticks; ++k)
    {
        const double time = static_cast<double>(k) * step;
        const int x = LeftMargin + static_cast<int>(std::lround(time / seconds * columns));
        fill(image, w, x, axis + 1, 1, TickLength, AxisInk);
        const std::string label = secondsLabel(time, step);
        const int left = std::clamp(x - textWidth(label) / 2, 0, w - textWidth(label));
        drawText(image, w, left, axis + LabelTop, label);
    }
    return image;
}

bool VoicePicture::write(const std::string& path)
{
    const std::vector<uint8_t> image = render();
    const int h = height();
    std::vector<png_bytep> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y)
        rows[static_cast<size_t>(y)] =
            const_cast<png_bytep>(&image[static_cast<size_t>(y) * pictureWidth * 3]);

    const std::string failure = "cannot write '" + path + "': ";
    Sink sink;
    sink.file = std::fopen(path.c_str(), "wb");
    if (sink.file == nullptr)
    {
        lastError = failure + std::strerror(errno);
        return false;
    }
    // "wb" has emptied a file already there, so on failure it goes; a device or a pipe
    // the path names (/dev/full, say) stays.
    struct stat st;
    const bool regular = fstat(fileno(sink.file), &st) == 0 && S_ISREG(st.st_mode);

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, onError, onWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool written = false;
    if (info != nullptr)
    {
        png_set_write_fn(png, &sink, onWrite, onFlush);
        written = encode(png, info, rows.data(), pictureWidth, h);
    }
    png_destroy_write_struct(&png, &info);

    std::string reason;
    if (!written)
        reason = sink.error != 0           ? std::strerror(sink.error)
                 : sink.message[0] != '\0' ? sink.message
                                           : "out of memory";
    // Buffered bytes reach the disc only here, so a full disc may show only now.
    if (std::fclose(sink.file) != 0 && written)
    {
        reason = std::strerror(errno);
        written = false;
    }
    if (!written)
    {
        lastError = failure + reason;
        if (regular)
            std::remove(path.c_str());
        return false;
    }
    lastError.clear();
    return true;
}
