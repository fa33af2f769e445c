// Lines and box outlines in palette colours, with the screen's exact pixel rules.
#pragma once
#include <cstdint>

class Screen;

enum class LineKind { line, box_outline };

constexpr uint16_t style_solid = 0xFFFF;

// Draws into the frame buffer under the screen lock and marks the rows drawn on.
void draw_line(Screen& screen, float x1, float y1, float x2, float y2, int32_t colour, LineKind kind, uint16_t style);
