#pragma once
// Initialises the crypto library (used for MD5 and, through the transfer
// library, for HTTPS) without its exit-time clean-up: a detached worker still
// running when the process ends would otherwise free its per-thread state a
// second time. Safe to call from any thread, any number of times.
void InitCryptoLibrary();
