// What the viewer page and the engraver's page both need. The build puts this
// file into both (see viewer/CMakeLists.txt): inline in viewer.html, in place
// of the tag that loads shared.js, and at the head of engraver.js.
'use strict';

// The window sends the document's bytes, so non-ASCII text survives the trip;
// TextDecoder drops a leading byte-order mark.
function decodeBase64Utf8(value) {
  const binary = window.atob(value);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) {
    bytes[i] = binary.charCodeAt(i);
  }
  return new TextDecoder('utf-8').decode(bytes);
}

// A thrown value as a line to show: its message when it has one.
function errorText(error) {
  if (error && typeof error.message === 'string' && error.message !== '') {
    return error.message;
  }
  return String(error);
}
