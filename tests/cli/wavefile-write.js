#!/usr/bin/env node
// Writes with npm wavefile 3 s of 48 kHz stereo 16-bit, with cue points, labels, loops and LIST INFO after the
// audio, on and around the whole seconds where the tests cut; bext is stamped two samples after iXML, so each
// field is seen to move from its own value.
// Usage: NODE_PATH=build/npm/node_modules node wavefile-write.js FILE
'use strict';
const fs = require('fs');
const { WaveFile } = require('wavefile');

const tone = Array.from({ length: 144000 }, (_, i) => Math.round(8000 * Math.sin(i / 20)));
const wav = new WaveFile();
wav.fromScratch(2, 48000, '16', [tone, tone]);
wav.bext.originator = 'wavefile-write.js';
wav.bext.timeReference = [1728000002, 0];
wav.setiXML('<?xml version="1.0"?><BWFXML><BWF_TIME_REFERENCE_LOW>1728000000</BWF_TIME_REFERENCE_LOW>' +
  '<SPEED><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>1728000000</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED></BWFXML>');
// In milliseconds. wavefile leaves dwPosition 0 unless told; where it equals the offset it must move too.
for (const [position, label, extra] of [[0, 'start', { dwPosition: 0 }], [500, 'half'],
  [1000, 'one', { dwPosition: 48000 }], [1500, 'one and a half', { dwPosition: 72000 }],
  [2000, 'two'], [2500, 'region', { end: 2900 }], [2999, 'last']]) {
  wav.setCuePoint({ position, label, ...extra });
}
wav.smpl = { chunkId: 'smpl', dwManufacturer: 0, dwProduct: 0, dwSamplePeriod: 20833, dwMIDIUnityNote: 60,
  dwMIDIPitchFraction: 0, dwSMPTEFormat: 0, dwSMPTEOffset: 0, dwNumSampleLoops: 4, dwSamplerData: 0,
  loops: [[9600, 38400], [48000, 91200], [72000, 120000], [100000, 143999]].map(([dwStart, dwEnd], i) =>
    ({ dwName: i + 1, dwType: 0, dwStart, dwEnd, dwFraction: 0, dwPlayCount: 0 })) };
wav.setTag('INAM', 'Tone');
wav.setTag('ICMT', 'markers after the audio');
fs.writeFileSync(process.argv[2], wav.toBuffer());
