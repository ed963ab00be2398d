// The page's worker: detects and converts one file at a time, off the page's
// thread, reading it a piece at a time so that only a piece of the input is
// held in WebAssembly memory whatever the file's size. The page bundles this
// after the classic glue (createMekModule), web/mek.js and web/zip.js.
//
// In:  {id, file, options: {from, to, eol, errors, folds, fallback}}
// Out: {id, progress}  then  {id, done: {...}}  or  {id, failed: message}

const READ = 4 << 20; // bytes read from the file at once
const PREVIEW = 64 << 10; // input bytes decoded for the preview
const LISTED = 1000; // problems listed, as `mek --check` lists them

const ready = createMekModule().then(bindMek);
const queue = [];
let busy = false;

self.onmessage = (event) => {
  queue.push(event.data);
  if (!busy) next();
};

async function next() {
  busy = true;
  while (queue.length !== 0) {
    const job = queue.shift();
    try {
      self.postMessage({ id: job.id, done: await run(await ready, job) });
    } catch (error) {
      self.postMessage({ id: job.id, failed: String(error?.message ?? error) });
    }
  }
  busy = false;
}

// Calls `each(bytes, done)` for the file's pieces in order; `done` is the
// share of the file read so far.
async function readPieces(file, each) {
  for (let at = 0; at < file.size || at === 0; at += READ) {
    const bytes = new Uint8Array(await file.slice(at, at + READ).arrayBuffer());
    if (each(bytes, Math.min(1, (at + bytes.length) / Math.max(1, file.size))) === false) return;
    if (file.size === 0) return;
  }
}

async function run(mek, { id, file, options }) {
  const started = performance.now();
  const progress = (phase, share) => self.postMessage({ id, progress: { phase, share } });
  // The code: given, or detected over the pieces until more cannot change it.
  let from = options.from;
  let found = null;
  if (from === 'auto') {
    const detector = new mek.Detector();
    await readPieces(file, (bytes, share) => {
      detector.feed(bytes);
      progress('detect', share);
      return !detector.settled;
    });
    found = detector.finish();
    if (found.code === null) {
      const error = found.error;
      return { found, from: found.nearest, problems: [error], problemCount: 1,
        failure: mek.describeProblem(error, found.nearest, options.to) };
    }
    from = found.code;
  }
  // One read: the conversion asked for, the check (every problem, whatever
  // the policy) and the preview, side by side.
  const converter = new mek.Converter({ ...options, from, listed: 1 });
  const checker = new mek.Converter({ ...options, from, eol: 'lf', errors: 'replace',
    replacement: '', listed: LISTED });
  const previewer = new mek.Converter({ from, to: 'utf8', eol: 'lf', errors: 'replace',
    folds: options.folds });
  const parts = [];
  const previewParts = [];
  let crc = 0;
  let converting = true;
  let previewed = 0;
  const keep = (out) => {
    if (out.length === 0) return;
    crc = crc32(out, crc);
    parts.push(out);
  };
  try {
    await readPieces(file, (bytes, share) => {
      if (converting) {
        keep(converter.feed(bytes));
        converting = converter.ok;
      }
      checker.feed(bytes);
      if (previewed < PREVIEW) {
        const some = bytes.subarray(0, PREVIEW - previewed);
        previewParts.push(previewer.feed(some));
        previewed += some.length;
        if (previewed === PREVIEW) previewParts.push(previewer.flush());
      }
      progress('convert', share);
    });
    if (converting) keep(converter.finish());
    checker.finish();
    // A preview cut off keeps back a sequence the cut split.
    if (file.size <= PREVIEW) previewParts.push(previewer.finish());
    const problems = checker.ok ? checker.takeChanges() : [checker.error];
    const failure = converter.ok ? null : 'cannot convert bytes at ' + converter.error.message;
    return {
      found, from, lineEndings: checker.lineEndings,
      preview: new TextDecoder().decode(mek.concat(previewParts)),
      previewCut: file.size > PREVIEW,
      problems, problemCount: checker.changeCount,
      changes: converter.changeCount,
      failure,
      output: failure ? null : new Blob(parts), crc,
      seconds: (performance.now() - started) / 1000,
    };
  } finally {
    converter.free();
    checker.free();
    previewer.free();
  }
}
