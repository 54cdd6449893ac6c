// mutool run tests/support/mutool-links.js FILE
//
// Prints the links the peer reader finds, page by page, as one JSON line:
//   {"pages": [[{"rect": [x0, y0, x1, y1], "uri": U} or {"rect": ..., "page": N}, ...], ...]}
// "rect" is in the file's own page space (the reader's bounds mapped back through the page's
// transform, corners in order). An internal link ("#..."), named destinations included, is
// resolved to its page, counted from 1; any other link gives its address as "uri".
var doc = new Document(scriptArgs[0]);

function invert(m) {
  var det = m[0] * m[3] - m[1] * m[2];
  return [m[3] / det, -m[1] / det, -m[2] / det, m[0] / det,
          (m[2] * m[5] - m[3] * m[4]) / det, (m[1] * m[4] - m[0] * m[5]) / det];
}

function apply(m, x, y) { return [x * m[0] + y * m[2] + m[4], x * m[1] + y * m[3] + m[5]]; }

function round(v) { return Math.round(v * 1000) / 1000; }

var pages = [];
for (var i = 0; i < doc.countPages(); ++i) {
  var page = doc.loadPage(i);
  var back = invert(page.getTransform());
  var links = page.getLinks();
  var out = [];
  for (var j = 0; j < links.length; ++j) {
    var b = String(links[j].bounds).split(",").map(Number);
    var p = apply(back, b[0], b[1]), q = apply(back, b[2], b[3]);
    var entry = {"rect": [round(Math.min(p[0], q[0])), round(Math.min(p[1], q[1])),
                          round(Math.max(p[0], q[0])), round(Math.max(p[1], q[1]))]};
    var uri = links[j].uri;
    if (uri.charAt(0) == "#") {
      // A location ({chapter, page}) in newer readers, a page number in older ones.
      var target = doc.resolveLink(uri);
      entry.page = (typeof target == "object" ? target.page : target) + 1;
    }
    else
      entry.uri = uri;
    out.push(entry);
  }
  pages.push(out);
}
print(JSON.stringify({"pages": pages}));
