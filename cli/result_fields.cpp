#include "cli/result_fields.h"

#include "library/song.h"

void AddTagFields(CJsonValue& item, const CTagValues& values) {
    item.Set("title", CJsonValue::Latin1(values.title));
    item.Set("album", CJsonValue::Latin1(values.album));
    item.Set("artist", CJsonValue::Latin1(values.artist));
    item.Set("genre", CJsonValue::Latin1(values.genre));
    item.Set("comment", CJsonValue::Latin1(values.comment));
    item.Set("year", CJsonValue::Latin1(values.year));
    item.Set("copyright", CJsonValue::Latin1(values.copyright));
    item.Set("url", CJsonValue::Latin1(values.url));
    item.Set("track", CJsonValue::Int(values.track));
    item.Set("disc", CJsonValue::Int(values.disc));
}

CJsonValue TagValuesObject(const CTagValues& values) {
    CJsonValue item = CJsonValue::Object();
    AddTagFields(item, values);
    return item;
}

CJsonValue SongObject(const CSong& song) {
    CJsonValue item = CJsonValue::Object();
    item.Set("path", CJsonValue::Utf8(song.fileRef.path));
    AddTagFields(item, song.DisplayedValues());
    item.Set("marked", CJsonValue::Bool(song.markedByApp));
    item.Set("lengthSeconds", CJsonValue::Int(song.lengthSeconds));
    item.Set("sampleRate", CJsonValue::Int(song.sampleRate));
    item.Set("iTunesDatabaseId", CJsonValue::Int(song.iTunesDatabaseId));
    return item;
}
