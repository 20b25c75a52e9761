#pragma once
// Pieces of results that several commands share.

#include "cli/json_value.h"
#include "library/tag_values.h"

struct CSong;

// The ten tag values as members of item (texts as ISO-8859-1).
void AddTagFields(CJsonValue& item, const CTagValues& values);
// The ten tag values as an object.
CJsonValue TagValuesObject(const CTagValues& values);
// A song as the add commands show it: path, its displayed tag values, the
// marker, length, sample rate and iTunes database ID.
CJsonValue SongObject(const CSong& song);
