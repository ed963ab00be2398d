// The JavaScript module over the WebAssembly build, under Node: detection,
// conversion with each option, problems placed and worded as `mek --check`
// words them, and streams cut at every size giving the same bytes as whole
// conversions; and the page's ZIP writer, read back by Python's zipfile.
// Run as: node mek_test.mjs BUILD_WEB_DIR EXAMPLES_DIR ZIP_JS
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [built, examples, zipScript] = process.argv.slice(2);
const mek = await import(pathToFileURL(path.join(built, 'mek.js')).href);
const example = (name) => new Uint8Array(fs.readFileSync(path.join(examples, name)));
const bytes = (...list) =>
  new Uint8Array(list.flatMap((b) => (typeof b === 'number' ? [b] : Array.from(b))));
const ascii = (text) => Array.from(text, (c) => c.charCodeAt(0));
const utf8 = (text) => Array.from(new TextEncoder().encode(text));
let failures = 0;
function run(name, body) {
  try {
    body();
  } catch (error) {
    ++failures;
    console.error(`FAIL ${name}: ${error.message}`);
  }
}

// Every example: its code detected, and each converts to the UTF-8 one and
// back to itself.
const text = example('sample-utf8.txt');
for (const [file, code] of [['sample-sjis.txt', 'sjis'], ['sample-eucjp.txt', 'euc_jp'],
  ['sample-jis.txt', 'jis'], ['sample-utf8.txt', 'utf8']]) {
  run(file, () => {
    const input = example(file);
    const found = mek.detect(input);
    assert.equal(found.code, code);
    assert.equal(found.byMark, false);
    const there = mek.convert(input, { to: 'utf8' });
    assert.ok(there.ok);
    assert.equal(there.from, code);
    assert.equal(there.lineEndings, 'LF');
    assert.deepEqual(there.bytes, text);
    assert.deepEqual(mek.convert(text, { from: 'utf8', to: code }).bytes, input);
  });
}

// Conversions with their options: input, options, the output or the error.
const conversions = [
  ['line endings to CRLF', utf8('a\nb\r\nc\r'), { from: 'utf8', eol: 'crlf' },
    ascii('a\r\nb\r\nc\r\n')],
  ['line endings kept', utf8('a\nb\r\nc\r'), { from: 'utf8', eol: 'keep' }, utf8('a\nb\r\nc\r')],
  ['UTF-8 with BOM', utf8('あ'), { from: 'utf8', to: 'utf8_bom' },
    [0xef, 0xbb, 0xbf, ...utf8('あ')]],
  ['cp932 extension', utf8('①'), { from: 'utf8', to: 'cp932' }, [0x87, 0x40]],
  ['strict fails at the place', bytes(0x61, 0x0a, 0x62, 0x82, 0xff), { from: 'sjis' },
    { kind: 'malformed', offset: 3, line: 2, column: 2,
      message: 'byte 3 (line 2, column 2): invalid sjis bytes 82' }],
  ['replace', bytes(0x61, 0xff, 0x62), { from: 'sjis', errors: 'replace' },
    utf8('a\ufffdb')],
  ['replacement', utf8('a€b'), { from: 'utf8', to: 'sjis', errors: 'replace',
    replacement: '〓' }, [0x61, 0x81, 0xac, 0x62]],
  ['skip', utf8('a€b'), { from: 'utf8', to: 'sjis', errors: 'skip' }, ascii('ab')],
  ['html', utf8('a€b'), { from: 'utf8', to: 'sjis', errors: 'html' }, ascii('a&#8364;b')],
  ['unmapped', utf8('a€b'), { from: 'utf8', to: 'euc_jp' },
    { kind: 'unmapped', offset: 1, line: 1, column: 2, character: 0x20ac,
      message: 'byte 1 (line 1, column 2): U+20AC has no euc_jp code' }],
  ['wide kana', utf8('ｶﾞｷ'), { from: 'utf8', folds: ['wide_kana'] }, utf8('ガキ')],
  ['narrow ASCII', utf8('ＡＢ　１'), { from: 'utf8', folds: ['narrow_ascii'] }, ascii('AB 1')],
  ['compose kana', utf8('か\u3099'), { from: 'utf8', folds: ['compose_kana'] }, utf8('が')],
  ['detected first', utf8('日本語'), { detection: 'first' }, utf8('日本語')],
  ['undetected', bytes(0x82, 0xff, 0x00, 0x01, 0x9f, 0xfe), {},
    { kind: 'undetected', message: 'cannot detect the input code' }],
];
for (const [name, input, options, expected] of conversions) {
  run(name, () => {
    const result = mek.convert(bytes(input), options);
    if (Array.isArray(expected)) {
      assert.equal(result.error.kind, 'none');
      assert.deepEqual(Array.from(result.bytes), expected);
    } else {
      assert.equal(result.ok, false);
      assert.equal(result.bytes.length, 0);
      for (const key of Object.keys(expected)) assert.equal(result.error[key], expected[key]);
    }
  });
}

// Problems: every one, in order, worded as the tool words them.
const problems = [
  ['malformed sjis', bytes(0x61, 0x0a, 0x62, 0x82, 0xff, 0x63), { from: 'sjis' },
    ['byte 3 (line 2, column 2): invalid sjis bytes 82',
      'byte 4 (line 2, column 3): invalid sjis bytes FF']],
  ['unmapped in sjis', utf8('a€\nbé'), { from: 'utf8', to: 'sjis' },
    ['byte 1 (line 1, column 2): U+20AC has no sjis code',
      'byte 6 (line 2, column 2): U+00E9 has no sjis code']],
  ['detected and clean', example('sample-eucjp.txt'), { to: 'cp932' }, []],
  ['none, whatever the policy', utf8('a€'), { from: 'utf8', to: 'sjis', errors: 'skip' },
    ['byte 1 (line 1, column 2): U+20AC has no sjis code']],
];
for (const [name, input, options, expected] of problems) {
  run(`check: ${name}`, () => {
    assert.deepEqual(mek.check(input, options).map((p) => p.message), expected);
  });
}

// Scores and the runner-up.
run('runner-up', () => {
  const found = mek.detect(example('sample-eucjp.txt'));
  assert.ok(found.score > found.runnerUpScore);
  assert.notEqual(found.runnerUp, null);
  assert.equal(mek.detect(bytes(0xef, 0xbb, 0xbf, 0x61)).byMark, true);
});

// Streams: the input cut into pieces of every size from 1 byte gives the
// bytes of the whole conversion, the same changes and the same place.
const streamed = [
  [example('sample-jis.txt'), { from: 'jis', to: 'sjis', eol: 'crlf' }],
  [example('sample-sjis.txt'), { from: 'sjis', to: 'utf16_le_bom', folds: ['wide_kana'] }],
  [bytes(utf8('ｶﾞ\r'), 0xff, utf8('\nｶ'), 0xe3, 0x81), { from: 'utf8', to: 'euc_jp',
    errors: 'replace', folds: ['wide_kana'], listed: 10 }],
];
for (const [input, options] of streamed) {
  const whole = mek.convert(input, options);
  for (let size = 1; size <= 17; ++size) {
    run(`stream ${options.from} to ${options.to} in pieces of ${size}`, () => {
      const converter = new mek.Converter(options);
      const parts = [];
      for (let at = 0; at < input.length; at += size) {
        parts.push(...converter.feed(input.subarray(at, at + size)));
        // A flush now and then gives out what is ready, and changes nothing.
        if (at % 5 === 0) parts.push(...converter.flush());
      }
      parts.push(...converter.finish());
      assert.equal(converter.ok, true);
      assert.deepEqual(parts, Array.from(whole.bytes));
      assert.equal(converter.changeCount, whole.changes);
      assert.deepEqual(converter.takeChanges(), whole.changeList);
      converter.free();
    });
  }
  run(`detector in pieces for ${options.from}`, () => {
    const detector = new mek.Detector();
    for (let at = 0; at < input.length; at += 3) detector.feed(input.subarray(at, at + 3));
    assert.deepEqual(detector.finish(), mek.detect(input));
  });
}

run('flush gives out what is ready', () => {
  const converter = new mek.Converter({ from: 'sjis' });
  assert.deepEqual(converter.feed(example('sample-sjis.txt')).length, 0);
  assert.deepEqual(converter.flush(), text);
  assert.equal(converter.finish().length, 0);
  converter.free();
});

// Names: the forgiving match, and unknown ones refused.
run('names', () => {
  assert.equal(mek.codes[mek.codeNumber('Shift_JIS')], mek.codes[mek.codeNumber('sjis')]);
  assert.equal(mek.codes[mek.codeNumber('UTF-8')], 'utf8');
  assert.throws(() => mek.codeNumber('klingon'), RangeError);
  assert.throws(() => new mek.Converter({ from: 'auto' }), RangeError);
  assert.throws(() => mek.convert('a', { from: 'utf8', errors: 'loud' }), RangeError);
});

// The ZIP writer: the CRC-32 check value, then an archive of two files that
// Python's zipfile lists and reads back, checking each CRC.
const { crc32, storedZip } = new Function(
  `${fs.readFileSync(zipScript, 'utf8')}; return { crc32, storedZip };`)();
run('crc32', () => {
  assert.equal(crc32(new TextEncoder().encode('123456789')), 0xcbf43926);
  const whole = crc32(text);
  assert.equal(crc32(text.subarray(100), crc32(text.subarray(0, 100))), whole);
});
const files = [['sample.cp932.txt', mek.convert(text, { to: 'cp932' }).bytes],
  ['空.txt', new Uint8Array(0)]].map(([name, data]) => ({ name, blob: new Blob([data]),
  crc: crc32(data), data }));
const archive = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'mek-zip-')), 'all.zip');
fs.writeFileSync(archive, new Uint8Array(await storedZip(files).arrayBuffer()));
run('zip', () => {
  const read = execFileSync('python3', ['-c', `import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
for i in z.infolist(): print(i.filename, i.file_size, z.read(i).hex())`, archive],
  { encoding: 'utf8' });
  const expected = files.map((f) => `${f.name} ${f.data.length} ${Buffer.from(f.data).toString('hex')}\n`);
  assert.equal(read, expected.join(''));
});
fs.rmSync(path.dirname(archive), { recursive: true });

if (failures !== 0) {
  console.error(`${failures} failed`);
  process.exit(1);
}
console.log('all passed');
