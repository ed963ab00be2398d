// mek in JavaScript: detection and conversion of Japanese text codes over
// the WebAssembly build of the core. Everything runs on the calling thread;
// large inputs go through Detector and Converter a piece at a time, so the
// memory held stays bounded by the piece, whatever the input's length.
//
// The lines marked "ES module only" are left out when the page bundles this
// file into its worker, which calls bindMek() itself.

import createMekModule from './mek_core.js'; // ES module only

const ERROR_KINDS = ['none', 'malformed', 'unmapped', 'too_large', 'no_memory', 'output',
  'undetected'];
const ERROR_POLICIES = ['strict', 'replace', 'skip', 'html'];
const LINE_ENDINGS = { lf: 1, crlf: 2, cr: 3, keep: 4 };
const FOLDS = { wide_kana: 1, compose_kana: 2, narrow_ascii: 4 };
// Input bytes handed to the core in one call.
const PIECE = 1 << 20;

function bindMek(M) {
  const names = [];
  for (let i = 0; i < M._mek_code_count(); ++i) names.push(M.UTF8ToString(M._mek_code_name(i)));
  const piece = M._malloc(PIECE);

  // The number of a code name, as the command line takes names.
  function codeNumber(name) {
    if (typeof name === 'number' && names[name] !== undefined) return name;
    const text = new TextEncoder().encode(String(name) + '\0');
    const at = M._malloc(text.length);
    M.HEAPU8.set(text, at);
    const code = M._mek_code_for(at);
    M._free(at);
    if (code < 0) throw new RangeError(`unknown code: ${name}`);
    return code;
  }

  // Calls `step(pointer, size)` for the bytes a piece at a time.
  function pieces(bytes, step) {
    for (let at = 0; at < bytes.length; at += PIECE) {
      const part = bytes.subarray(at, Math.min(at + PIECE, bytes.length));
      M.HEAPU8.set(part, piece);
      if (step(piece, part.length) === false) return false;
    }
    return true;
  }

  function readError(at, from, to) {
    const f = M.HEAPF64.subarray(at / 8, at / 8 + 10);
    const error = {
      kind: ERROR_KINDS[f[0]], offset: f[1], line: f[2], column: f[3], character: f[4],
      bytes: Array.from(f.subarray(6, 6 + f[5])),
    };
    if (error.kind !== 'none') error.message = describeProblem(error, from, to);
    return error;
  }

  // "byte N (line L, column C): DETAIL", as the tool words a problem.
  function describeProblem(error, from, to) {
    if (error.kind === 'undetected') {
      const why = 'cannot detect the input code';
      if (error.line === 0 || !from || from === 'auto') return why;
      return `${why}: it reads as ${from} except at ` +
        describeProblem({ ...error, kind: 'malformed' }, from, to);
    }
    const place = `byte ${error.offset} (line ${error.line}, column ${error.column}): `;
    if (error.kind === 'unmapped') {
      const hex = error.character.toString(16).toUpperCase().padStart(4, '0');
      return `${place}U+${hex} has no ${to} code`;
    }
    if (error.kind !== 'malformed') return place + error.kind;
    const shown = error.bytes.map((b) => ' ' + b.toString(16).toUpperCase().padStart(2, '0'));
    return `${place}invalid ${from} bytes${shown.join('')}`;
  }

  function toBytes(input) {
    if (input instanceof Uint8Array) return input;
    if (typeof input === 'string') return new TextEncoder().encode(input);
    if (ArrayBuffer.isView(input)) {
      return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
    }
    return new Uint8Array(input);
  }

  // Detection over pieces; finish() answers as detect() does for the whole.
  class Detector {
    constructor({ detection = 'score' } = {}) {
      this.handle = M._mek_detector_new(detection === 'first' ? 0 : 1);
      this.nearest = M._mek_nearest_new();
    }
    feed(bytes) {
      pieces(toBytes(bytes), (at, size) => {
        M._mek_detector_feed(this.handle, at, size);
        M._mek_nearest_feed(this.nearest, at, size);
      });
    }
    get settled() {
      return M._mek_detector_settled(this.handle) !== 0;
    }
    finish() {
      const code = M._mek_detector_finish(this.handle);
      const s = M.HEAP32.subarray(M._mek_detector_scores(this.handle) / 4).slice(0, 4);
      const found = {
        code: code === 0 ? null : names[code],
        byMark: s[0] !== 0, score: s[1],
        runnerUp: s[2] === 0 ? null : names[s[2]], runnerUpScore: s[3],
      };
      if (code === 0) {
        // The code that reads all but a few places, and the first of them.
        const near = M._mek_nearest_finish(this.nearest);
        found.nearest = near === 0 ? null : names[near];
        found.error = readError(M._mek_nearest_error(this.nearest), found.nearest ?? 'auto');
      }
      this.free();
      return found;
    }
    free() {
      if (this.handle) M._mek_detector_free(this.handle);
      if (this.nearest) M._mek_nearest_free(this.nearest);
      this.handle = this.nearest = 0;
    }
  }

  function detect(bytes, options = {}) {
    const detector = new Detector(options);
    detector.feed(bytes);
    return detector.finish();
  }

  // A conversion over pieces: feed() and finish() give the output that is
  // ready. `listed` changes are kept for takeChanges().
  class Converter {
    constructor({ from, to = 'utf8', eol = 'lf', errors = 'strict', replacement = '',
      fallback = false, folds = [], listed = 1 } = {}) {
      this.from = names[codeNumber(from)];
      this.to = names[codeNumber(to)];
      if (this.from === 'auto') throw new RangeError('from must name a code: detect first');
      const policy = ERROR_POLICIES.indexOf(errors);
      if (policy < 0) throw new RangeError(`unknown error policy: ${errors}`);
      if (!(eol in LINE_ENDINGS)) throw new RangeError(`unknown line ending: ${eol}`);
      let foldBits = 0;
      for (const fold of folds) {
        if (!(fold in FOLDS)) throw new RangeError(`unknown fold: ${fold}`);
        foldBits |= FOLDS[fold];
      }
      const character = replacement === '' ? 0 : replacement.codePointAt(0);
      if (character !== 0 && !M._mek_carries(codeNumber(to), character)) {
        throw new RangeError(`${this.to} does not carry the replacement`);
      }
      this.handle = M._mek_stream_new(codeNumber(from), codeNumber(to), LINE_ENDINGS[eol],
        policy, character, fallback ? 1 : 0, foldBits, listed);
      this.ok = true;
    }
    take() {
      const size = M._mek_stream_output_size(this.handle);
      const at = M._mek_stream_output(this.handle);
      const out = M.HEAPU8.slice(at, at + size);
      M._mek_stream_take(this.handle);
      return out;
    }
    feed(bytes) {
      const outs = [];
      pieces(toBytes(bytes), (at, size) => {
        this.ok = M._mek_stream_feed(this.handle, at, size) !== 0;
        outs.push(this.take());
        return this.ok;
      });
      return outs.length === 1 ? outs[0] : concat(outs);
    }
    // The output of all that was fed but what a later byte could change
    // (a piece is otherwise converted once it is whole).
    flush() {
      this.ok = M._mek_stream_flush(this.handle) !== 0 && this.ok;
      return this.take();
    }
    finish() {
      this.ok = M._mek_stream_finish(this.handle) !== 0 && this.ok;
      return this.take();
    }
    get error() {
      return readError(M._mek_stream_error(this.handle), this.from, this.to);
    }
    get changeCount() {
      return M._mek_stream_change_count(this.handle);
    }
    // The changes listed since the last call.
    takeChanges() {
      const list = [];
      for (let at; (at = M._mek_stream_next_change(this.handle)) !== 0;) {
        list.push(readError(at, this.from, this.to));
      }
      return list;
    }
    // After finish(): "LF", "CRLF", "CR", "MIXED" or "NONE".
    get lineEndings() {
      return M.UTF8ToString(M._mek_line_endings_name(M._mek_stream_line_endings(this.handle)));
    }
    free() {
      if (this.handle) M._mek_stream_free(this.handle);
      this.handle = 0;
    }
  }

  function concat(parts) {
    let size = 0;
    for (const part of parts) size += part.length;
    const all = new Uint8Array(size);
    let at = 0;
    for (const part of parts) {
      all.set(part, at);
      at += part.length;
    }
    return all;
  }

  // Converts a whole text. With `from` 'auto' (the default) the code is
  // detected first; a text no code takes fails with kind 'undetected'.
  function convert(input, options = {}) {
    const bytes = toBytes(input);
    let from = options.from ?? 'auto';
    if (codeNumber(from) === 0) {
      const found = detect(bytes, options);
      if (found.code === null) {
        return { ok: false, bytes: new Uint8Array(0), from: found.nearest, error: found.error,
          changes: 0, changeList: [] };
      }
      from = found.code;
    }
    const converter = new Converter({ ...options, from });
    try {
      const parts = [converter.feed(bytes), converter.finish()];
      const ok = converter.ok;
      return {
        ok, bytes: ok ? concat(parts) : new Uint8Array(0), from: converter.from,
        error: converter.error, changes: converter.changeCount,
        changeList: converter.takeChanges(), lineEndings: ok ? converter.lineEndings : null,
      };
    } finally {
      converter.free();
    }
  }

  // Every problem of a text converted to `to` ('auto': only decoded), at
  // most `limit`, whatever the error policy: the list `mek --check` gives.
  function check(input, options = {}, limit = 1000) {
    const bytes = toBytes(input);
    let from = options.from ?? 'auto';
    if (codeNumber(from) === 0) {
      const found = detect(bytes, options);
      if (found.code === null) return [found.error];
      from = found.code;
    }
    const to = codeNumber(options.to ?? 'auto') === 0 ? 'utf16_be' : options.to;
    const converter = new Converter({ ...options, from, to, eol: 'lf', errors: 'replace',
      replacement: '', listed: limit });
    try {
      converter.feed(bytes);
      converter.finish();
      if (!converter.ok) return [converter.error];
      return converter.takeChanges();
    } finally {
      converter.free();
    }
  }

  return { codes: names.slice(), codeNumber, detect, Detector, convert, Converter, check,
    describeProblem, concat };
}

const mek = bindMek(await createMekModule()); // ES module only
export const { codes, codeNumber, detect, Detector, convert, Converter, check, describeProblem } = mek; // ES module only
export default mek; // ES module only
