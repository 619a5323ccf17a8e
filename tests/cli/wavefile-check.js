#!/usr/bin/env node
// Prints what npm wavefile (a reader that is not ours) finds in FILE as one JSON object; exit 1 when it cannot read it.
// Usage: NODE_PATH=build/npm/node_modules node wavefile-check.js FILE
'use strict';
const fs = require('fs');

if (process.argv.length !== 3) {
  console.error('usage: wavefile-check.js FILE   (needs the npm package wavefile on NODE_PATH)');
  process.exit(2);
}
const { WaveFile } = require('wavefile');

try {
  const wav = new WaveFile(fs.readFileSync(process.argv[2]));
  const [low, high] = wav.bext.chunkId ? wav.bext.timeReference : [0, 0];
  const ixml = wav.getiXML();
  const tag = (name) => {
    const match = ixml.match(new RegExp(`<${name}>([^<]*)</${name}>`));
    return match ? match[1] : null;
  };
  console.log(JSON.stringify({
    container: wav.container,
    sampleRate: wav.fmt.sampleRate,
    blockAlign: wav.fmt.blockAlign,
    dataChunkSize: wav.data.chunkSize,
    // Decimal text: the 64-bit count may not fit a JavaScript number exactly.
    bextTimeReference: wav.bext.chunkId ? ((BigInt(high) << 32n) + BigInt(low)).toString() : null,
    ixml: {
      TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO: tag('TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO'),
      BWF_TIME_REFERENCE_LOW: tag('BWF_TIME_REFERENCE_LOW'),
    },
    // Named as riffcheck.py names them, so that one edit of the input's turns either into the copy's.
    cuePoints: wav.listCuePoints().map((p) => (
      { position: p.dwPosition, fccChunk: p.fccChunk, sampleOffset: p.dwSampleOffset, label: p.label })),
    loops: wav.smpl.loops.map((l) => ({ id: l.dwName, start: l.dwStart, end: l.dwEnd })),
  }));
} catch (error) {
  console.log(JSON.stringify({ error: String(error && error.message || error) }));
  process.exit(1);
}
