// The text description of a bank: one directive per line, '#' starting a comment. Names become ids
// through the engine's name hash; "@123" is the id 123 itself; whole numbers are plain decimals. Chunks
// are written in the order their first directive appears. An id enters each of its lists once.
//
//   platform <text>                          PLAT
//   threshold <dB> | voices <n>              STMG, with
//   stategroup <group> <default ms>          transition <group> <from> <to> <ms>
//   switchgroup <group> <parameter> <scaling>  switchpoint <group> <value> <switch> <shape>
//   parameter <name> <default> <ramp mode> <up> <down> <binding slot>
//   envcurve <group 0-1> <curve 0-2> <enabled 0/1> <scaling>   envpoint <g> <c> <x> <y> <interpolation>  ENVS
//   tone <name> <rate> <channels> <ms> <Hz> [loose]   DIDX and DATA (loose: "<id>.snm" beside the bank)
//   marker <tone> <cue id> <frame> [label]   loop <tone> <first frame> <last frame>
//   event <name> <action>...                 HIRC event (type 4)
//   object <type> <name> [hex bytes...]      HIRC object of any type: its id, then the bytes
//   musictrack, segment, playlist, musicswitch, musicevent   music objects (tools/SoundBank/MusicText.h)
//   bankname <bank>                          STID
//   chunk <TAG> [hex bytes...]               a chunk as given
// Faults for the malformed corpus: headertag <TAG>, version <n>, headersize <n>, size <TAG> <declared size>,
// append [hex bytes...], cut <bytes off the end>.
#pragma once

#include <string>
#include <vector>

#include "tools/SoundBank/BankWriter.h"

namespace Tools {

// The bank a description file makes: its file name up to the last '.', as the engine cuts ".bnk".
std::string BankNameOfPath(const std::string& path);
// Fills `bank` (its id from `bankName`); false with `error` naming the line on a bad description.
bool ParseBankText(const std::string& text, const std::string& bankName, BankDescription& bank, std::string& error);
bool ReadBankTextFile(const std::string& path, BankDescription& bank, std::string& error);

}  // namespace Tools
