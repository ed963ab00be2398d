// Types of web/mek.js: detection and conversion of Japanese text codes in
// WebAssembly, on the calling thread.

/** A code's name as the command line takes it ("cp932", "sjis", "utf8_bom", "auto", ...). */
export type CodeName = string;
export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView | string;
export type ErrorKind =
  | 'none' | 'malformed' | 'unmapped' | 'too_large' | 'no_memory' | 'output' | 'undetected';

/** A failure or a change, placed in the input. */
export interface Problem {
  kind: ErrorKind;
  /** Byte offset of the offending sequence, from 0 (a byte-order mark included). */
  offset: number;
  /** Line and column from 1; columns count characters. 0: not placed. */
  line: number;
  column: number;
  /** unmapped: the character. */
  character: number;
  /** malformed: the offending bytes; unmapped: the character's bytes. */
  bytes: number[];
  /** As `mek --check` words it: "byte N (line L, column C): ...". */
  message?: string;
}

export interface Detection {
  /** The code, or null when no code takes the text. */
  code: CodeName | null;
  /** A byte-order mark decided; nothing was scored. */
  byMark: boolean;
  /** Mean weight of the decoded characters, in hundredths. */
  score: number;
  /** The next best code that decodes the whole text, or null. */
  runnerUp: CodeName | null;
  runnerUpScore: number;
  /** When code is null: the code that reads all but a few places, and the first of them. */
  nearest?: CodeName | null;
  error?: Problem;
}

export interface DetectOptions {
  detection?: 'score' | 'first';
}

export interface ConvertOptions extends DetectOptions {
  /** Default 'auto': detected. */
  from?: CodeName;
  /** Default 'utf8'. */
  to?: CodeName;
  /** Default 'lf'. */
  eol?: 'lf' | 'crlf' | 'cr' | 'keep';
  /** Default 'strict': fail at the first problem. */
  errors?: 'strict' | 'replace' | 'skip' | 'html';
  /** With 'replace': one character the output code carries, written instead of U+FFFD and '?'. */
  replacement?: string;
  /** Characters without a code of their own written at their twin's position. */
  fallback?: boolean;
  folds?: Array<'wide_kana' | 'compose_kana' | 'narrow_ascii'>;
  /** How many changes are listed (changeList, takeChanges()); default 1. */
  listed?: number;
}

export interface Converted {
  ok: boolean;
  /** The output; empty after a failure. */
  bytes: Uint8Array;
  /** The input's code, as given or detected (after 'undetected': the nearest reading). */
  from: CodeName | null;
  error: Problem;
  /** Under a forgiving policy: how many changes, and the first `listed` of them. */
  changes: number;
  changeList: Problem[];
  /** Line endings of the decoded text: 'LF', 'CRLF', 'CR', 'MIXED' or 'NONE'. */
  lineEndings?: string | null;
}

/** Every code name, by code number (0 is "auto"). */
export const codes: readonly CodeName[];
/** The number of a code name; throws RangeError for a name it does not know. */
export function codeNumber(name: CodeName | number): number;
export function detect(bytes: Bytes, options?: DetectOptions): Detection;
export function convert(bytes: Bytes, options?: ConvertOptions): Converted;
/** Every problem of the text converted to `to` (or only decoded), at most `limit`. */
/** The byte arrays one after the other, as one (a converter's pieces). */
export function concat(parts: Uint8Array[]): Uint8Array;
export function check(bytes: Bytes, options?: ConvertOptions, limit?: number): Problem[];
export function describeProblem(problem: Problem, from: CodeName, to: CodeName): string;

/** Detection over pieces of a text; the pieces are not kept. */
export class Detector {
  constructor(options?: DetectOptions);
  feed(bytes: Bytes): void;
  /** More input cannot change the answer. */
  readonly settled: boolean;
  /** Ends the text and frees the detector. */
  finish(): Detection;
  free(): void;
}

/** A conversion over pieces of a text: each call gives the output that is ready. */
export class Converter {
  /** `from` must name a code: detect first. */
  constructor(options: ConvertOptions & { from: CodeName });
  readonly from: CodeName;
  readonly to: CodeName;
  /** False once the conversion has failed. */
  readonly ok: boolean;
  feed(bytes: Bytes): Uint8Array;
  /** The output of all fed so far but what a later byte could still change. */
  flush(): Uint8Array;
  finish(): Uint8Array;
  readonly error: Problem;
  readonly changeCount: number;
  takeChanges(): Problem[];
  readonly lineEndings: string;
  /** Gives back the converter's memory; call it when done. */
  free(): void;
}

declare const mek: {
  codes: typeof codes; codeNumber: typeof codeNumber; detect: typeof detect;
  Detector: typeof Detector; convert: typeof convert; Converter: typeof Converter;
  check: typeof check; describeProblem: typeof describeProblem; concat: typeof concat;
};
export default mek;
