// SPDX-License-Identifier: GPL-2.0-or-later
// SPDX-FileCopyrightText: 2026 The Harkavel developers
#pragma once
// Everything the program takes from libclamav: the library's own header, the old scan option
// word and its translation into libclamav 1.4's option sets, the fixed scan limits, and the
// routing of the library's messages.

#include <QString>
#include <clamav.h>
#include <cstdint>

// The scan option word, in the bit numbering libclamav used before its option sets.
namespace ScanOption {
inline constexpr uint32_t Archive = 0x1;
inline constexpr uint32_t Mail = 0x2;
inline constexpr uint32_t OLE2 = 0x4;
inline constexpr uint32_t HTML = 0x10;
inline constexpr uint32_t PE = 0x20;
inline constexpr uint32_t Algorithmic = 0x200;
inline constexpr uint32_t PDF = 0x4000;
inline constexpr uint32_t Structured = 0x8000;
inline constexpr uint32_t StructuredSSNNormal = 0x10000;
inline constexpr uint32_t StructuredSSNStripped = 0x20000;
} // namespace ScanOption

// One bit of the option word and the flag it sets in one of libclamav's option sets.
struct TScanOptionMapping {
    uint32_t WordBit;
    uint32_t cl_scan_options::*Set;
    uint32_t Flag;
};

// The whole translation: a bit of the word not listed here turns nothing on, and every
// feature of libclamav that no listed bit names stays off.
inline constexpr TScanOptionMapping ScanOptionTable[] = {
    {ScanOption::Archive, &cl_scan_options::parse, CL_SCAN_PARSE_ARCHIVE},
    {ScanOption::Mail, &cl_scan_options::parse, CL_SCAN_PARSE_MAIL},
    {ScanOption::OLE2, &cl_scan_options::parse, CL_SCAN_PARSE_OLE2},
    {ScanOption::HTML, &cl_scan_options::parse, CL_SCAN_PARSE_HTML},
    {ScanOption::PE, &cl_scan_options::parse, CL_SCAN_PARSE_PE},
    {ScanOption::PDF, &cl_scan_options::parse, CL_SCAN_PARSE_PDF},
    {ScanOption::Algorithmic, &cl_scan_options::general, CL_SCAN_GENERAL_HEURISTICS},
    {ScanOption::Structured, &cl_scan_options::heuristic, CL_SCAN_HEURISTIC_STRUCTURED},
    {ScanOption::StructuredSSNNormal, &cl_scan_options::heuristic,
     CL_SCAN_HEURISTIC_STRUCTURED_SSN_NORMAL},
    {ScanOption::StructuredSSNStripped, &cl_scan_options::heuristic,
     CL_SCAN_HEURISTIC_STRUCTURED_SSN_STRIPPED},
};

cl_scan_options ScanOptionsFromWord(uint32_t Word);

// The scan limits every scan runs under. libclamav 1.4 takes them as engine settings, so they
// are set on the engine before it is compiled.
struct TScanLimit {
    cl_engine_field Field;
    long long Value;
};

inline constexpr long long ScanSizeLimit = 0x1400000; // 20 MiB, archive contents included

// The old archive memory limit (off) has no counterpart in libclamav 1.4, so it has no row.
inline constexpr TScanLimit ScanLimitTable[] = {
    {CL_ENGINE_MAX_SCANSIZE, ScanSizeLimit},
    {CL_ENGINE_MAX_FILESIZE, ScanSizeLimit},
    {CL_ENGINE_MAX_RECURSION, 5},
    {CL_ENGINE_MAX_FILES, 0}, // 0: no limit
    {CL_ENGINE_MIN_CC_COUNT, 100},
    {CL_ENGINE_MIN_SSN_COUNT, 100},
};

cl_error_t SetScanLimits(cl_engine* Engine);

// The database options of cl_load: phishing signatures and phishing URL checks.
inline constexpr unsigned int DatabaseOptions = CL_DB_PHISHING | CL_DB_PHISHING_URLS;

// libclamav writes its warnings to stderr unless told otherwise; send them to the debug
// output instead. Safe to call more than once.
void RouteEngineMessages();

// cl_init once for the process, with the messages routed, whichever thread comes first (the
// scanner loading its engine, the updater verifying a download); its status every time.
int InitEngineLibrary();

// The linked engine library's own version ("1.4.6").
QString EngineVersion();

// The engine's text for an engine status.
QString EngineErrorText(int Status);
