// Word layout of every record shared between a gauge module and its host.
//
// The host reads and writes these records in place, so their shape is a contract: 32-bit
// little-endian words counted from 0 at the start of each record, 64-bit floats in two
// consecutive words (low word first). This header holds only the word numbers, so it serves
// both sides: the module's record types (records.h) check their field offsets against it at
// compile time, and the bench reads guest memory with it.
#pragma once

namespace layout {

// Exported `Linkage`: module id, ModuleInit, ModuleDeinit, 3 reserved, gauge list ended by 0.
namespace linkage {
inline constexpr unsigned moduleId = 0, moduleInit = 1, moduleDeinit = 2, gaugeList = 6, words = 8;
inline constexpr unsigned kModuleId = 0x13;
}  // namespace linkage

// Exported `ImportTable`: (entry id, address) pairs ended by id 0.
namespace import_table {
inline constexpr unsigned entryId = 0, serviceTable = 1, words = 4;
inline constexpr unsigned kServiceTableEntryId = 0x0F;
}  // namespace import_table

namespace gauge_header {
inline constexpr unsigned version = 0, name = 1, rootElement = 2, query = 3, install = 4,
                          initialize = 5, update = 6, generate = 7, draw = 8, kill = 9,
                          word11 = 11, words = 22;
inline constexpr unsigned kVersion = 610;
}  // namespace gauge_header

// Slots of the host's HostServiceTable that gauges call.
namespace service {
inline constexpr unsigned queryElements = 24, installElements = 25, initElements = 26,
                          updateElements = 27, generateElements = 28, drawElements = 29,
                          killElements = 31, installMouseAreas = 32, registerMouseAreas = 33,
                          unregisterMouseAreas = 34, sendKeyEvent = 36, slots = 37;
}  // namespace service

namespace element {
inline constexpr unsigned kind = 0, resourceId = 1, position = 2, pivot = 6, gaugeHeader = 8,
                          children = 10, failures = 11, drawFlags = 12, headerWords = 15;
inline constexpr unsigned kStaticImage = 0, kNeedle = 1, kSlider = 3, kIcon = 4;
}  // namespace element

namespace host_variable {
inline constexpr unsigned id = 0, value = 3, words = 7;
}  // namespace host_variable

namespace static_image {
inline constexpr unsigned image = 15, words = 20;
}  // namespace static_image

namespace needle {
inline constexpr unsigned variable = 15, updateCallback = 22, calibration = 28,
                          calibrationRows = 29, word30 = 30, words = 56;
}  // namespace needle

namespace calibration_row {
inline constexpr unsigned x = 0, y = 1, value = 2, secondValue = 4, words = 6;
}  // namespace calibration_row

namespace icon {
inline constexpr unsigned variable = 15, updateCallback = 22, pictureCount = 28, pictures = 31,
                          words = 33;
inline constexpr unsigned kPictureIdStep = 3;
}  // namespace icon

namespace slider_axis {
inline constexpr unsigned variable = 0, updateCallback = 7, scale = 8, words = 11;
}  // namespace slider_axis

namespace slider {
inline constexpr unsigned xAxis = 15, yAxis = 26, words = 42;
}  // namespace slider

// Host's record of a loaded bitmap: words 1 and 2 are width and height.
namespace image_record {
inline constexpr unsigned width = 1, height = 2;
}  // namespace image_record

namespace mouse_area {
inline constexpr unsigned kind = 0, box = 1, cursor = 5, helpId = 6, mouseFlags = 7, handler = 9,
                          words = 11;
inline constexpr unsigned kEndOfList = 0, kParent = 1, kChild = 2, kEndOfParent = 3;
inline constexpr unsigned kClickFlags = 0x20000000, kDragFlags = 0x00800000;
}  // namespace mouse_area

}  // namespace layout
