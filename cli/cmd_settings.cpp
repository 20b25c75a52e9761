// Commands over the stored settings and the identification cache.
#include <cstring>
#include <string>

#include "cli/cli_context.h"
#include "cli/command.h"
#include "cli/result_fields.h"
#include "foundation/prefs.h"

namespace {

enum class EField { Text, Int, Flag, Flags, Columns, Frame };

struct SPrefsField {
    const char* name;
    EField kind;
    void* (*locate)(CPrefs& prefs);
    size_t size;  // bytes of a text or flag array
};

#define PREFS_FIELD(field, kind) \
    {#field, kind, [](CPrefs& p) -> void* { return &p.field; }, sizeof(CPrefs::field)}

// In the order of the preferences file.
const SPrefsField kFields[] = {
    PREFS_FIELD(userName, EField::Text),
    PREFS_FIELD(password, EField::Text),
    PREFS_FIELD(reservedWord, EField::Int),
    PREFS_FIELD(introAccount, EField::Flag),
    PREFS_FIELD(identificationsLeft, EField::Int),
    PREFS_FIELD(searchScope, EField::Flags),
    PREFS_FIELD(toolbarVisible, EField::Flag),
    PREFS_FIELD(renamePattern, EField::Text),
    PREFS_FIELD(reservedFlag, EField::Flag),
    PREFS_FIELD(fingerprintFallback, EField::Flag),
    PREFS_FIELD(fingerprintAlways, EField::Flag),
    PREFS_FIELD(requestTimeout, EField::Int),
    PREFS_FIELD(requestRetries, EField::Int),
    PREFS_FIELD(columns, EField::Columns),
    PREFS_FIELD(keepOriginal, EField::Flags),
    PREFS_FIELD(saveToCache, EField::Flag),
    PREFS_FIELD(useCache, EField::Flag),
    PREFS_FIELD(formFirstName, EField::Text),
    PREFS_FIELD(formLastName, EField::Text),
    PREFS_FIELD(formMiddleName, EField::Text),
    PREFS_FIELD(formAddress, EField::Text),
    PREFS_FIELD(formCity, EField::Text),
    PREFS_FIELD(formState, EField::Text),
    PREFS_FIELD(formZip, EField::Text),
    PREFS_FIELD(formCountry, EField::Text),
    PREFS_FIELD(formEmail, EField::Text),
    PREFS_FIELD(notifyItunesOnSave, EField::Flag),
    PREFS_FIELD(notifyItunesOnRename, EField::Flag),
    PREFS_FIELD(iTunesScriptMenu, EField::Flag),
    PREFS_FIELD(nextVersionCheck, EField::Int),
    PREFS_FIELD(autoVersionCheck, EField::Flag),
    PREFS_FIELD(mainWindow, EField::Frame),
    PREFS_FIELD(playerLeft, EField::Int),
    PREFS_FIELD(playerTop, EField::Int),
    PREFS_FIELD(playerVolume, EField::Int),
};

#undef PREFS_FIELD

CJsonValue FieldValue(CPrefs& prefs, const SPrefsField& field) {
    void* at = field.locate(prefs);
    switch (field.kind) {
        case EField::Text: return CJsonValue::Latin1(static_cast<const char*>(at));
        case EField::Int: return CJsonValue::Int(*static_cast<int32_t*>(at));
        case EField::Flag: return CJsonValue::Int(*static_cast<uint8_t*>(at));
        case EField::Flags: {
            std::string marks;
            for (size_t i = 0; i < field.size; ++i) marks += static_cast<uint8_t*>(at)[i] ? '1' : '0';
            return CJsonValue::Utf8(marks);
        }
        case EField::Columns: {
            CJsonValue columns = CJsonValue::Array();
            for (const CColumnPrefs& column : prefs.columns) {
                CJsonValue& item = columns.Push(CJsonValue::Object());
                item.Set("minWidth", CJsonValue::Int(column.minWidth));
                item.Set("maxWidth", CJsonValue::Int(column.maxWidth));
                item.Set("width", CJsonValue::Int(column.width));
                item.Set("visible", CJsonValue::Int(column.visible));
            }
            return columns;
        }
        case EField::Frame: {
            const auto* frame = static_cast<CWindowFrame*>(at);
            CJsonValue item = CJsonValue::Object();
            item.Set("left", CJsonValue::Int(frame->left));
            item.Set("top", CJsonValue::Int(frame->top));
            item.Set("width", CJsonValue::Int(frame->width));
            item.Set("height", CJsonValue::Int(frame->height));
            return item;
        }
    }
    return CJsonValue::Null();
}

CJsonValue AllFields(CPrefs& prefs) {
    CJsonValue result = CJsonValue::Object();
    for (const SPrefsField& field : kFields) result.Set(field.name, FieldValue(prefs, field));
    return result;
}

void SetField(CPrefs& prefs, const SPrefsField& field, const std::string& value) {
    void* at = field.locate(prefs);
    const std::string what = std::string(field.name);
    switch (field.kind) {
        case EField::Text: {
            std::string bytes;
            if (!Utf8ToLatin1(value, bytes))
                throw CUsageError{what + ": the text has characters outside ISO-8859-1"};
            if (bytes.size() >= field.size || bytes.find('\0') != std::string::npos)
                throw CUsageError{what + " holds at most " + std::to_string(field.size - 1) + " bytes"};
            std::memset(at, 0, field.size);
            std::memcpy(at, bytes.data(), bytes.size());
            return;
        }
        case EField::Int: {
            auto number = static_cast<int32_t>(ParseInteger(value, INT32_MIN, INT32_MAX, what));
            // The same floors as the preferences window.
            if (what == "requestTimeout" && number < 15) number = 15;
            if (what == "requestRetries" && number < 0) number = 0;
            *static_cast<int32_t*>(at) = number;
            return;
        }
        case EField::Flag:
            *static_cast<uint8_t*>(at) = static_cast<uint8_t>(ParseInteger(value, 0, 1, what));
            return;
        case EField::Flags:
            if (value.size() != field.size || value.find_first_not_of("01") != std::string::npos)
                throw CUsageError{what + " is a string of " + std::to_string(field.size) + " digits 0 or 1"};
            for (size_t i = 0; i < field.size; ++i) static_cast<uint8_t*>(at)[i] = value[i] == '1';
            return;
        case EField::Frame: {
            int32_t parts[4];
            size_t start = 0;
            for (int i = 0; i < 4; ++i) {
                const size_t comma = value.find(',', start);
                if ((comma == std::string::npos) != (i == 3))
                    throw CUsageError{what + " is LEFT,TOP,WIDTH,HEIGHT"};
                parts[i] = static_cast<int32_t>(
                    ParseInteger(value.substr(start, comma - start), INT32_MIN, INT32_MAX, what));
                start = comma + 1;
            }
            *static_cast<CWindowFrame*>(at) = {parts[0], parts[1], parts[2], parts[3]};
            return;
        }
        case EField::Columns:
            throw CUsageError{what + " cannot be set from the command line"};
    }
}

void RunPrefsShow(CCliContext& context, const SArgs&) {
    context.LoadSettings();
    context.Emit(AllFields(context.App().prefs));
}

void RunPrefsSet(CCliContext& context, const SArgs& args) {
    if (args.operands.size() % 2 != 0) throw CUsageError{"prefs set takes KEY VALUE pairs"};
    // Check every pair before anything is loaded or written.
    CPrefs scratch;
    for (size_t i = 0; i < args.operands.size(); i += 2) {
        const SPrefsField* field = nullptr;
        for (const SPrefsField& candidate : kFields)
            if (args.operands[i] == candidate.name) field = &candidate;
        if (field == nullptr) throw CUsageError{"unknown preference '" + args.operands[i] + "'"};
        SetField(scratch, *field, args.operands[i + 1]);
    }
    context.LoadSettings();
    CPrefs& prefs = context.App().prefs;
    for (size_t i = 0; i < args.operands.size(); i += 2)
        for (const SPrefsField& field : kFields)
            if (args.operands[i] == field.name) SetField(prefs, field, args.operands[i + 1]);
    context.SaveSettings();
    context.Emit(AllFields(prefs));
}

CJsonValue CacheEntries(CIdCache& cache) {
    CJsonValue result = CJsonValue::Array();
    for (const CIdCacheEntry& entry : cache.Entries()) {
        CJsonValue& item = result.Push(CJsonValue::Object());
        item.Set("path", CJsonValue::Utf8(entry.path));
        item.Set("fileSize", CJsonValue::Int(entry.fileSize));
        CJsonValue& matches = item.Set("matches", CJsonValue::Array());
        for (const CTagValues& match : entry.matches) matches.Push(TagValuesObject(match));
    }
    return result;
}

void RunCacheShow(CCliContext& context, const SArgs&) {
    context.LoadCache();
    context.Emit(CacheEntries(*context.App().cache));
}

void RunCacheClear(CCliContext& context, const SArgs&) {
    context.LoadCache();
    CIdCache& cache = *context.App().cache;
    CJsonValue cleared = CacheEntries(cache);
    cache.ClearCache();
    context.Emit(cleared);
}

}  // namespace

SCommand PrefsShowCommand() {
    return {"prefs show", "", "show every stored setting by its field name",
            "Flag arrays (searchScope, keepOriginal) are strings of 0 and 1; texts are ISO-8859-1.",
            {}, 0, 0, RunPrefsShow};
}

SCommand PrefsSetCommand() {
    return {"prefs set", "KEY VALUE...", "change stored settings by their field names, then save",
            "Texts are converted to ISO-8859-1 and must fit their field; flags are 0 or 1; flag\n"
            "arrays are strings of 0 and 1 (searchScope 11, keepOriginal 9 digits); mainWindow is\n"
            "LEFT,TOP,WIDTH,HEIGHT. requestTimeout is at least 15 and requestRetries at least 0,\n"
            "as in the preferences window. Example: prefs set userName ann password secret",
            {}, 2, -1, RunPrefsSet};
}

SCommand CacheShowCommand() {
    return {"cache show", "", "list the identification cache: path, file size and stored matches", "",
            {}, 0, 0, RunCacheShow};
}

SCommand CacheClearCommand() {
    return {"cache clear", "", "empty the identification cache (its file goes to the Trash)",
            "Shows the entries that were removed.", {}, 0, 0, RunCacheClear};
}
