#include "core/images/alpha_draw.h"

#include <algorithm>

#include "core/images/dib.h"

namespace kestrel {

namespace {

bool isBgraDib(const DibInfo& info) {
    if (info.bitCount != 32) return false;
    if (info.compression == kBiRgb) return true;
    // Bit-field DIBs are drawn when their colour masks are the plain blue, green, red bytes.
    return (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields) &&
           info.masks[0] == 0x00FF0000u && info.masks[1] == 0x0000FF00u && info.masks[2] == 0x000000FFu;
}

bool isValidTarget(const PixelTarget& target) {
    if (target.width < 0 || target.height < 0 || target.stride < target.width) return false;
    if (target.width == 0 || target.height == 0) return true;
    const std::uint64_t needed =
        std::uint64_t(target.stride) * std::uint64_t(target.height - 1) + std::uint64_t(target.width);
    return needed <= target.pixels.size();
}

// The stretch and blend, over destination coordinates in 64 bits so that no rectangle a caller
// passes can overflow. Destination row j counts from the bottom of the rectangle, as the rows of a
// bottom-up DIB do; the checkerboard follows the same counting.
void drawStretched(Bytes dib, const DibInfo& info, const PixelTarget& target, std::int64_t destX,
                   std::int64_t destY, std::int64_t destWidth, std::int64_t destHeight, std::int64_t sourceX,
                   std::int64_t sourceY, std::int64_t sourceWidth, std::int64_t sourceHeight) {
    if (destWidth <= 0 || destHeight <= 0) return;
    const double stepX = static_cast<double>(sourceWidth) / static_cast<double>(destWidth);
    const double stepY = static_cast<double>(sourceHeight) / static_cast<double>(destHeight);

    const std::int64_t firstI = std::max<std::int64_t>(0, -destX);
    const std::int64_t endI = std::min<std::int64_t>(destWidth, std::int64_t{target.width} - destX);
    const std::int64_t firstJ = std::max<std::int64_t>(0, destY + destHeight - target.height);
    const std::int64_t endJ = std::min<std::int64_t>(destHeight, destY + destHeight);
    if (firstI >= endI || firstJ >= endJ) return;

    const auto* pixels = reinterpret_cast<const std::uint8_t*>(dib.data()) + info.pixelOffset;
    for (std::int64_t j = firstJ; j < endJ; ++j) {
        const auto sourceRow = std::min<std::int64_t>(sourceY + static_cast<std::int64_t>(j * stepY),
                                                      sourceY + sourceHeight - 1);
        const std::uint8_t* row =
            pixels + dibMemoryRow(info, static_cast<std::int32_t>(sourceRow)) * info.rowBytes;
        const std::int64_t targetRow = destY + destHeight - 1 - j;
        std::uint32_t* out = target.pixels.data() + targetRow * target.stride + (destX + firstI);
        const bool lowBand = j % 12 < kCheckerSize;
        for (std::int64_t i = firstI; i < endI; ++i) {
            const auto sourceColumn = std::min<std::int64_t>(sourceX + static_cast<std::int64_t>(i * stepX),
                                                             sourceX + sourceWidth - 1);
            const std::uint8_t* pixel = row + 4 * sourceColumn;
            const std::uint32_t alpha = pixel[3];
            std::uint32_t blue = pixel[0];
            std::uint32_t green = pixel[1];
            std::uint32_t red = pixel[2];
            if (alpha != 255) {
                const std::uint32_t background =
                    ((i % 12 < kCheckerSize) == lowBand) ? kCheckerWhite : kCheckerGrey;
                blue = blendChannel(blue, alpha, background);
                green = blendChannel(green, alpha, background);
                red = blendChannel(red, alpha, background);
            }
            out[i - firstI] = 0xFF000000u | (red << 16) | (green << 8) | blue;
        }
    }
}

bool sourceInside(const DibInfo& info, std::int64_t x, std::int64_t y, std::int64_t width,
                  std::int64_t height) {
    return width > 0 && height > 0 && x >= 0 && y >= 0 && x + width <= info.width &&
           y + height <= info.height;
}

}  // namespace

HResult DrawAlphaDib(Bytes dib, const PixelTarget& target, std::int32_t destX, std::int32_t destY,
                     std::int32_t destWidth, std::int32_t destHeight, std::int32_t sourceX,
                     std::int32_t sourceY, std::int32_t sourceWidth, std::int32_t sourceHeight) {
    DibInfo info;
    if (validateDib(dib, info).failed() || !isBgraDib(info) || !isValidTarget(target)) return kInvalidArg;
    if (!sourceInside(info, sourceX, sourceY, sourceWidth, sourceHeight)) return kInvalidArg;
    drawStretched(dib, info, target, destX, destY, destWidth, destHeight, sourceX, sourceY, sourceWidth,
                  sourceHeight);
    return kOk;
}

HResult DrawAlphaDibFrame(Bytes dib, const PixelTarget& target, std::int32_t left, std::int32_t top,
                          std::int32_t right, std::int32_t bottom, std::int32_t marginLeft,
                          std::int32_t marginTop, std::int32_t marginRight, std::int32_t marginBottom,
                          std::int32_t frameCount, std::int32_t frameIndex) {
    DibInfo info;
    if (validateDib(dib, info).failed() || !isBgraDib(info) || !isValidTarget(target)) return kInvalidArg;
    if (frameCount <= 0 || frameIndex < 0 || frameIndex >= frameCount) return kInvalidArg;
    if (marginLeft < 0 || marginTop < 0 || marginRight < 0 || marginBottom < 0) return kInvalidArg;
    const std::int64_t frameHeight = info.height / frameCount;
    if (frameHeight == 0) return kInvalidArg;
    const std::int64_t frameTop = frameIndex * frameHeight;

    const std::int64_t mL = marginLeft, mT = marginTop, mR = marginRight, mB = marginBottom;
    const std::int64_t width = info.width;
    const std::int64_t sourceMiddleWidth = std::max<std::int64_t>(1, width - mL - mR);
    const std::int64_t sourceMiddleHeight = std::max<std::int64_t>(1, frameHeight - mT - mB);
    const std::int64_t destMiddleWidth = std::int64_t{right} - left - mL - mR;
    const std::int64_t destMiddleHeight = std::int64_t{bottom} - top - mT - mB;

    // One piece of the grid; the source y counts from the top of the frame and becomes a DIB row
    // counted from the bottom. Pieces whose source lies outside the DIB are left out.
    auto piece = [&](std::int64_t destX, std::int64_t destY, std::int64_t destWidth, std::int64_t destHeight,
                     std::int64_t sourceX, std::int64_t sourceYInFrame, std::int64_t sourceWidth,
                     std::int64_t sourceHeight) {
        const std::int64_t sourceY = info.height - (frameTop + sourceYInFrame + sourceHeight);
        if (!sourceInside(info, sourceX, sourceY, sourceWidth, sourceHeight)) return;
        drawStretched(dib, info, target, destX, destY, destWidth, destHeight, sourceX, sourceY, sourceWidth,
                      sourceHeight);
    };

    if (mL != 0 && mT != 0) piece(left, top, mL, mT, 0, 0, mL, mT);
    if (mR != 0 && mT != 0) piece(std::int64_t{right} - mR, top, mR, mT, width - mR, 0, mR, mT);
    if (mL != 0 && mB != 0) piece(left, std::int64_t{bottom} - mB, mL, mB, 0, frameHeight - mB, mL, mB);
    if (mR != 0 && mB != 0) {
        piece(std::int64_t{right} - mR, std::int64_t{bottom} - mB, mR, mB, width - mR, frameHeight - mB, mR,
              mB);
    }
    if (mT != 0 && destMiddleWidth > 0)
        piece(left + mL, top, destMiddleWidth, mT, mL, 0, sourceMiddleWidth, mT);
    if (mB != 0 && destMiddleWidth > 0) {
        piece(left + mL, std::int64_t{bottom} - mB, destMiddleWidth, mB, mL, frameHeight - mB,
              sourceMiddleWidth, mB);
    }
    if (mL != 0 && destMiddleHeight > 0)
        piece(left, top + mT, mL, destMiddleHeight, 0, mT, mL, sourceMiddleHeight);
    if (mR != 0 && destMiddleHeight > 0) {
        piece(std::int64_t{right} - mR, top + mT, mR, destMiddleHeight, width - mR, mT, mR,
              sourceMiddleHeight);
    }
    if (destMiddleWidth > 0 && destMiddleHeight > 0) {
        piece(left + mL, top + mT, destMiddleWidth, destMiddleHeight, mL, mT, sourceMiddleWidth,
              sourceMiddleHeight);
    }
    return kOk;
}

}  // namespace kestrel
