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
//   tone <name> <rate> <channels> <ms> <Hz> [loose|prepared] [adpcm|float] [ramp|noise|dc]   (dc: <Hz> is the
//                                            level) DIDX and DATA (loose: "<id>.snm" beside the bank, which
//                                            its sounds stream; prepared: the same file, which its sounds play
//                                            from memory once an event's preparation has read it)
//   marker <tone> <cue id> <frame> [label]   loop <tone> <first frame> <last frame>
//   speakers <tone> <channel mask>           envelope <tone> <reference dB> <frame> <dB below>...
//   language <loose tone> <language>        the file is the language's (source flag bit 0): written in the
//                                            "<language>" folder beside the bank, where the engine looks
//                                            it up under the current language; no music track streams it
//   prefetch <loose tone> <bytes>            the file's first bytes (its header at least) in DIDX and DATA
//                                            as well: its sounds stream prefetched (stream type 2), heard
//                                            from the bank's bytes while the rest of the file is read;
//                                            before any musictrack of the tone
//   mediafault <tone> <fault>                a malformed media (ToneMedia.h: "cue-count-past-chunk", ...)
//   event <name> <action>...                 HIRC event (type 4)
//   action <name> <type 0xNNNN> <target|0> [options]   HIRC action (type 3); options, each once but except
//       and exceptbus: bus, delay <ms 0-44739242>, delayrange <min> <max>, fade <ms>, faderange <min> <max>
//       (offsets in ms drawn at each run), curve <n>, probability <percent 0-100>, flag <n>, meaning <n>,
//       value <v> <min> <max>, seek <mode> <flag>, bypass <on> <mask>, group <group> <state or switch>,
//       bank <bank>, except <node>, exceptbus <bus>
//   object <type> <name> [hex bytes...]      HIRC object of any type: its id, then the bytes
//   bus <name> <parent bus or -> [option...]  HIRC bus (type 8); options, each once but duck and effect:
//     ownmix (type 20, a mix stage of its own), music (background music), volume <dB>, busvolume <dB>,
//     recovery <ms>, maxduck <dB>, channels <config>,
//     duck <bus> <dB> <fade-out ms> <fade-in ms> <curve> <property 0 or 5>,
//     maxvoices <1-1023> [newest|oldest] [virtual] (as a node's, for all game objects together), mixstage (a
//     mix stage of its own), mixer <definition> (the shared definition mixing its inputs), bypass <0-31>
//     (the effect slots bypassed from the start: bits 0-3 the slots, bit 4 all; with effects)
//   sound <name> <tone or source plug-in> <output bus> [volume <dB>] [loop <passes, 0 for ever>]
//       [3d <attenuation>] [path <path>] [motion <motion bus>] [effect <definition>]... [mixer <definition>]
//       [inaudible <play|kill|virtual>] [delay <ms 0-44739242>] [pitch <cents>] [lowpass <value>]
//       [highpass <value>] [priority <0-100>] [distanceoffset <-100-100>] [maxvoices <1-1023> [global] [newest|oldest] [virtual]]
//       [property <volume|pitch|lowpass|highpass|0-59> <value>] [vary <property> <min> <max>]
//       [auxsend <bus> <dB>] [gamesend <dB>] [bypass <0-31>] [midiplay <noteon|noteoff|none>]
//       [miditracking <root key 0-127|off>] [nospatialise] [norays] (after 3d: heard unspatialised, or not
//       along the game object's own rays)
//       (these node words, but loop, also on every container and music node: path and mixer <definition>
//       (their own over their parents') on mixer, random and sequence containers only, for the children
//       without a positioning of their own; the filter values add along the path, so a child's may be
//       negative. NodeWords.cpp holds the words, the kinds of node taking each and how often: a word its
//       kind does not take is refused, so is a word or a property given twice, a fifth effect or auxsend)
//                                            "priority" and "distanceoffset" give the node its own priority
//                                            over its parent's, the second lowering or raising it with the
//                                            distance up to the attenuation's farthest point; "maxvoices"
//                                            limits the voices the node counts itself, per game object
//                                            unless "global"; at equal priority the "oldest" gives way (the
//                                            default) or the "newest" play is refused; "virtual" sends the
//                                            voices over the limit to their inaudible behaviour;
//                                            "property" sets any node property within its values (the
//                                            MIDI ones and the loop count whole numbers), "vary" a random
//                                            offset of a real one drawn at each play; "auxsend" takes the
//                                            next of four auxiliary sends, "gamesend" the level of the
//                                            game's environment sends, both decided by this node;
//                                            "midiplay" what a MIDI note plays and "miditracking" the key
//                                            the pitch follows the note from, for the nodes below
//   mixer|random|sequence <name> <bus or -> <child>[=<weight>]... [option...]   HIRC actor-mixer (type 7) or
//     random/sequence container (type 5); random and sequence take, each once, loop <n>, avoid <n>,
//     continuous, perobject, transition <type 0-5> <ms 0-44739242>, looprange <min> <max> (whole offsets of
//     the loop count) and transitionrange <min ms> <max ms> (offsets of -44739242 to 44739242 ms), drawn at
//     each play; random shuffle, sequence pingpong, noreset. A child (of every container) is a node of this
//     bank declared before the container, or one of a bank loaded before it, named on an elsewhere line;
//     any other word is refused
//   elsewhere <node>...                      nodes of other banks, loaded before this one, that containers here
//                                            hold (the engine finds a child as its container loads): each
//                                            once, none of this bank's objects, not @0
//   switch <name> <bus or -> switch|state <group> <default> <value>=<child>[+<child>]... [continuous]
//     [fade <child> <out ms> <in ms>] [first <child>] [across <child>]   HIRC switch container (type 6); each
//     option once (of each child)
//   layers <name> <bus or -> [modulator] <crossfade driver> <child>[=<x0>:<y0>:<x1>:<y1>]...   HIRC layer
//     container (type 9) of one layer
//   layer <name> <layers> [modulator] <crossfade driver> <child>[=<x0>:<y0>:<x1>:<y1>]...   a further layer
//     of the layer container, over children it holds; "rtpc <name>" gives the layer its curves
//                                            HIRC sound (type 2) of a tone or a source plug-in;
//                                            "path" moves it along a path; a motion bus needs "motion 1"; each
//                                            effect takes the next slot; the mixer is the one its voices name;
//                                            "inaudible" is what its voices do below the volume threshold;
//                                            "delay" is the wait of each play before its voice
//   stateprops <name> <volume|pitch|lowpass|highpass|busvolume|0-5>=<value>...   HIRC state properties (type 1)
//   statemap <sound or bus> <state group> <state>=<stateprops>...   the node takes its group's current state's
//                                            properties (declared before the node), moving over the group's times
//   effect <name> gain <dB>                  HIRC shared effect definition (type 18) of the built-in gain
//   effect <name> plugin <key> [hex bytes...] [media <index> <tone>]... [base <plug-in parameter> <value>]...
//       [rtpc <plug-in parameter> [add|multiply] [db|log|dbtolin] [modulator] <driver> <x>:<y>...]
//                                            the same of a game's plug-in: its block, the bank's media it asks
//                                            for by index, parameters' base values, and a curve of a
//                                            parameter (its whole value, or added to or multiplying its base)
//   effect <name> node gain|plugin ...       the same as a per-node definition (type 19): the slots of the
//                                            nodes and buses naming it look it up as one, not as shared
//   sourceplugin <name> <key> [hex bytes...] [rtpc <plug-in parameter> [modulator] <driver> <x>:<y>...]
//                                            HIRC per-node effect definition (type 19): the parameter node of a
//                                            game's source plug-in (its key of type 2), which a sound names
//   motionbus <name> <parent motion bus or -> [bus option...]   HIRC motion bus (type 16); the first is the default
//   motionsource <name> <tone> [volume <dB>] [device <first 0-65535> <second 0-65535>] [start <value>]
//                                            HIRC motion source (type 17) of a tone, into the default motion bus:
//                                            the two values the device takes the tone with, and the tone's
//                                            starting value; each once
//   path <name> [random] [continuous] [relaunch] [loop] [world] [transition <ms>]   a sound's 3D path: items
//     in random order, going on to the next item, a new path each play, looping, not turned with the
//     listener; the last vertex of each item lasts the transition time
//   pathitem <path> [<range x> <range y> <range z>]   a play-list item, each vertex offset at random within the
//     ranges                                 pathvertex <path> <x> <y> <z> <ms>   the last item's next vertex
//   attenuation <name> [cone <inside deg> <outside deg> <outside dB> <low-pass> <high-pass>]  HIRC type 14
//   attuse <attenuation> <use 0-6> <curve 0-6>   attcurve <attenuation> <curve 0-6> <scaling>
//   attpoint <attenuation> <curve> <x> <y> <interpolation>
//   attrtpc <attenuation> <voice parameter 0-63> [db|log|dbtolin] <game parameter> <x>:<y>[:<shape>]...
//                                            a curve every voice of the attenuation adds to its parameter
//   rtpc <sound or bus> <volume|pitch|lowpass|highpass|0-63> [add|multiply] [db|log|dbtolin] [modulator]
//       <game parameter or modulator> <x>:<y>[:<shape>]...   (the last curve of a parameter says whether its
//       curves add or multiply; the y values scaled from a gain, as powers of ten, or as decibels)
//                                            a curve of a sound's or bus's parameter over its driver's value; of a
//                                            layer container's layer, for the children the layer lists
//   rtpc <modulator> <42-48 of an lfo | 50-55 of an envelope> [modulator] <driver> <x>:<y>[:<shape>]...
//                                            a curve of a modulator's parameter, within its property's limits
//   dialogue <name> <probability> <mode> <argument group>...   HIRC dialogue event (type 15)
//   dialoguepath <dialogue> <audio node> <weight> <probability> <value>...   one leaf; "*" is the default
//   modulator lfo|envelope <name> [<property>=<value> | <property>~<min>,<max>]...
//                                            HIRC oscillator (type 21) or envelope (type 22)
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
