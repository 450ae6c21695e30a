#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A picture of the voices over time, written as an 8-bit RGB PNG: one lane a voice,
// top to bottom in the order added, its number at the left; a bar in every column
// where the voice sounds, the darker the louder its envelope; the time in seconds
// along the bottom. The caller samples the levels, one a column of the plot.
//
// Lanes are 16 pixels apart, the bar 14 of them, every other lane on a light grey
// ground. The shade grows with the square root of the level and starts a third of
// the way to the darkest, so that a release tail near 0 stays in sight.
class VoicePicture
{
public:
    static const int DefaultWidth = 1200;
    static const int MinWidth = 320;
    static const int MaxWidth = 16000;
    static const uint16_t FullLevel = 0x7FFF; // the envelope's highest level

    // The columns of the time plot in a picture `width` pixels wide (the width clamped
    // as the constructor does).
    static int plotColumns(int width);
    // The height in pixels of a picture of `lanes` lanes.
    static int heightFor(int lanes);
    // Where a plot column and the middle of a lane's bar are in the picture.
    static int columnX(int column);
    static int laneMiddleY(int lane);

    // width within MinWidth..MaxWidth; seconds > 0, the time the plot spans. A width
    // outside is clamped into the range; seconds not above 0 (or not finite) span 1 s.
    VoicePicture(int width, double seconds);

    // levels: plotColumns(width) values, each the highest envelope level (0..FullLevel)
    // of the voice within that column's time; 0 draws nothing. Fewer values are padded
    // with 0, more are cut.
    void addLane(int voice, const std::vector<uint16_t>& levels);

    // Writes the file; false with error() set when it cannot, and no file left behind.
    bool write(const std::string& path);
    const std::string& error() const { return lastError; }

    int width() const { return pictureWidth; }
    int height() const { return heightFor(static_cast<int>(lanes.size())); }

private:
    struct Lane
    {
        int voice;
        std::vector<uint16_t> levels;
    };

    // The whole picture, 3 bytes a pixel, rows top to bottom.
    std::vector<uint8_t> render() const;

    int pictureWidth;
    double seconds;
    std::vector<Lane> lanes;
    std::string lastError;
};
