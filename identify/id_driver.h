#pragma once
// The identification driver: starts and stops runs, and in every main-timer
// tick advances the one song being worked on (analysis job, then request,
// then the answer) and chooses the next song of the run. Main thread only.

class CApp;
struct CSong;

// Starts a run over the selection (all rows when nothing is selected), or
// stops the run. Nothing happens without a user name and password.
void ToggleIdentification(CApp& app);

// The identification step of the main timer's tick. False when a pause after
// a request error ends the tick here.
bool IdentifyTick(CApp& app);

// The progress text of a song that has a job or a request.
const char* IdProgressText(const CSong& song);
