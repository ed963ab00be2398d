// A ZIP archive of stored (uncompressed) files, made in the page from the
// converted files: their bytes are already Blobs, and each file's CRC-32 was
// counted while it was converted, so nothing is read again here. Names are
// written in UTF-8 (flag bit 11). Files and the archive stay below 4 GiB,
// the limit of the format without its 64-bit extension.

// CRC-32 (the polynomial EDB88320 of ZIP and PNG), a table of 256 steps.
const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; ++n) {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

// The CRC-32 of `bytes` continued from `crc` (0 at the start).
function crc32(bytes, crc = 0) {
  let c = ~crc >>> 0;
  for (let i = 0; i < bytes.length; ++i) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

// A Blob of the archive of `files`: [{name, blob, crc}], in that order.
function storedZip(files, date = new Date()) {
  const time = (date.getHours() << 11) | (date.getMinutes() << 5) | (date.getSeconds() >> 1);
  const day = ((date.getFullYear() - 1980) << 9) | ((date.getMonth() + 1) << 5) | date.getDate();
  const parts = [];
  const directory = [];
  let offset = 0;
  const header = (signature, name, file, central) => {
    const size = central ? 46 : 30;
    const view = new DataView(new ArrayBuffer(size));
    let at = 0;
    const u16 = (v) => { view.setUint16(at, v, true); at += 2; };
    const u32 = (v) => { view.setUint32(at, v >>> 0, true); at += 4; };
    u32(signature);
    if (central) u16(20); // made by: version 2.0
    u16(20); // needed to extract: version 2.0
    u16(0x0800); // names in UTF-8
    u16(0); // stored
    u16(time);
    u16(day);
    u32(file.crc);
    u32(file.blob.size);
    u32(file.blob.size);
    u16(name.length);
    u16(0); // no extra field
    if (central) {
      u16(0); // no comment
      u16(0); // disk 0
      u16(0); // internal attributes
      u32(0); // external attributes
      u32(file.offset);
    }
    return new Uint8Array(view.buffer);
  };
  for (const file of files) {
    const name = new TextEncoder().encode(file.name);
    const local = { ...file, offset };
    parts.push(header(0x04034b50, name, local, false), name, file.blob);
    directory.push(header(0x02014b50, name, local, true), name);
    offset += 30 + name.length + file.blob.size;
  }
  let size = 0;
  for (const part of directory) size += part.length;
  const end = new DataView(new ArrayBuffer(22));
  end.setUint32(0, 0x06054b50, true);
  end.setUint16(8, files.length, true);
  end.setUint16(10, files.length, true);
  end.setUint32(12, size, true);
  end.setUint32(16, offset, true);
  return new Blob([...parts, ...directory, new Uint8Array(end.buffer)],
    { type: 'application/zip' });
}
