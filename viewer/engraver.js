// The engraver: lays out one piece of a score with the score library and
// hands back each system as a drawing of its own, with the measures it holds.
// It runs in a page of its own, never shown, so that a long layout never holds
// up the page the user is looking at. decodeBase64Utf8 and errorText come
// from shared.js, which the build puts at the head of this script.
'use strict';
(function () {
  // The library measures in units of ten pixels at zoom 1.
  const unitInPixels = 10;

  function createRenderer(container) {
    const renderer = new opensheetmusicdisplay.OpenSheetMusicDisplay(container, {
      autoResize: false,
      backend: 'svg',
      drawTitle: false,
      drawSubtitle: false,
      drawComposer: false,
      drawLyricist: false,
      drawCredits: false,
      drawingParameters: 'compacttight',
      // Names on every system: full on the first, short on the others (the
      // pieces after the first carry the short names as their names).
      drawPartNames: true,
      drawPartAbbreviations: true,
      // The range options stick to a renderer once set; a fresh one still
      // gets the whole range, so that no earlier choice can cut a piece short.
      drawFromMeasureNumber: 1,
      drawUpToMeasureNumber: Number.MAX_SAFE_INTEGER,
      // The collision outlines are computed on a plain canvas: the WebGL
      // route the library picks for larger pieces is a slow emulation on
      // machines without a graphics processor.
      preferredSkyBottomLineBatchCalculatorBackend:
        opensheetmusicdisplay.SkyBottomLineBatchCalculatorBackendType.Plain
    });
    renderer.EngravingRules.AlwaysSetPreferredSkyBottomLineBackendAutomatically = false;
    return renderer;
  }

  // The source measures a system holds, as indices into the piece, its
  // vertical extent (what sticks out above and below included), and where
  // its staves lie, in the drawing's own units (pixels at zoom 1: the
  // drawing is scaled by its view box).
  function describeSystem(system) {
    let first = Number.MAX_SAFE_INTEGER;
    let last = -1;
    for (const column of system.GraphicalMeasures) {
      const measure = column.find(function (m) { return m && m.parentSourceMeasure; });
      if (!measure) {
        continue;
      }
      const source = measure.parentSourceMeasure;
      const span = source.isReducedToMultiRest && source.multipleRestMeasures > 1 ? source.multipleRestMeasures : 1;
      first = Math.min(first, source.measureListIndex);
      last = Math.max(last, source.measureListIndex + span - 1);
    }
    let top = Number.POSITIVE_INFINITY;
    let bottom = Number.NEGATIVE_INFINITY;
    let staffTop = Number.POSITIVE_INFINITY;
    let staffBottom = Number.NEGATIVE_INFINITY;
    for (const staffLine of system.StaffLines) {
      const y = staffLine.PositionAndShape.AbsolutePosition.y;
      const outline = staffLine.SkyBottomLineCalculator;
      const sky = outline && outline.SkyLine && outline.SkyLine.length ? outline.getSkyLineMin() : 0;
      const ground = outline && outline.BottomLine && outline.BottomLine.length ? outline.getBottomLineMax() : 4;
      top = Math.min(top, y + Math.min(sky, 0));
      bottom = Math.max(bottom, y + Math.max(ground, 4));
      staffTop = Math.min(staffTop, y);
      staffBottom = Math.max(staffBottom, y + 4);
    }
    // How much of its line the system's measures would take at their
    // natural widths: a system that breaks only because the piece ends
    // takes little of it.
    let natural = 0;
    for (const column of system.GraphicalMeasures) {
      let widest = 0;
      for (const measure of column) {
        if (measure) {
          widest = Math.max(widest, (measure.minimumStaffEntriesWidth || 0) +
            (measure.beginInstructionsWidth || 0) + (measure.endInstructionsWidth || 0));
        }
      }
      natural += widest;
    }
    const line = system.StaffLines.length ? system.StaffLines[0].PositionAndShape.Size.width : 0;
    const scale = unitInPixels;
    // Where each measure lies across the system, so that the page can mark
    // the one playing and tell which one the user clicks.
    const bars = [];
    for (const column of system.GraphicalMeasures) {
      const measure = column.find(function (m) { return m && m.parentSourceMeasure; });
      if (measure && measure.PositionAndShape) {
        bars.push([measure.parentSourceMeasure.measureListIndex,
          measure.PositionAndShape.AbsolutePosition.x * scale, measure.PositionAndShape.Size.width * scale]);
      }
    }
    return {
      bars: bars,
      fill: line > 0 ? natural / line : 1,
      first: first,
      end: last + 1,
      top: top * scale,
      bottom: bottom * scale,
      staffTop: staffTop * scale,
      staffBottom: staffBottom * scale
    };
  }

  // Systems may interlock (a low note of one beside a high note of the next),
  // so no straight cut separates them. The drawing groups its elements by
  // staff line, label and measure number; each group goes with the system
  // whose staves are nearest to it, and widens that system's extent.
  function assignToSystems(svg, systems) {
    const groups = systems.map(function () { return []; });
    for (const child of Array.from(svg.children)) {
      let box = null;
      try {
        box = child.getBBox();
      } catch (error) {
        box = null;
      }
      if (!box || (box.width === 0 && box.height === 0)) {
        continue;
      }
      const middle = box.y + box.height / 2;
      let best = 0;
      let bestDistance = Number.POSITIVE_INFINITY;
      systems.forEach(function (system, index) {
        const distance = middle < system.staffTop ? system.staffTop - middle
          : middle > system.staffBottom ? middle - system.staffBottom : 0;
        if (distance < bestDistance) {
          bestDistance = distance;
          best = index;
        }
      });
      groups[best].push(child);
      systems[best].top = Math.min(systems[best].top, box.y);
      systems[best].bottom = Math.max(systems[best].bottom, box.y + box.height);
    }
    return groups;
  }

  // A text for whoever prints the system to draw as text (a PDF keeps it
  // searchable), placed relative to the system's drawing, in its units.
  function describeText(element, top) {
    const size = element.getAttribute('font-size') || '';
    const number = parseFloat(size);
    return {
      text: element.textContent,
      x: Number(element.getAttribute('x')) || 0,
      y: (Number(element.getAttribute('y')) || 0) - top,
      family: element.getAttribute('font-family') || 'serif',
      // A point is 4/3 of a CSS pixel.
      size: /pt$/.test(size) ? number * 4 / 3 : (number || 12),
      bold: /bold|[6-9]00/.test(element.getAttribute('font-weight') || ''),
      italic: /italic|oblique/.test(element.getAttribute('font-style') || ''),
      color: element.getAttribute('fill') || '#000000'
    };
  }

  // width: the drawing's width in pixels on the page, zoom: pixels per unit.
  function systemDrawing(width, zoom, system, children, separateTexts) {
    const margin = 2;
    const top = Math.floor(system.top) - margin;
    const height = Math.ceil(system.bottom) + margin - top;
    const texts = [];
    let markup = '';
    for (const child of children) {
      if (!separateTexts) {
        markup += child.outerHTML;
        continue;
      }
      if (child.tagName.toLowerCase() === 'text') {
        texts.push(describeText(child, top));
        continue;
      }
      const copy = child.cloneNode(true);
      for (const text of Array.from(copy.querySelectorAll('text'))) {
        texts.push(describeText(text, top));
        text.remove();
      }
      markup += copy.outerHTML;
    }
    return {
      first: system.first,
      end: system.end,
      bars: system.bars.map(function (bar) { return [bar[0], bar[1] * zoom, bar[2] * zoom]; }),
      fill: system.fill,
      height: height * zoom,
      svg: '<svg xmlns="http://www.w3.org/2000/svg" width="' + width + '" height="' + height * zoom +
        '" viewBox="0 ' + top + ' ' + width / zoom + ' ' + height + '">' + markup + '</svg>',
      texts: texts
    };
  }

  // options: width (pixels the systems span), zoom, stretchLast (justify the
  // last system too), separateTexts (texts apart from the drawing). Returns
  // JSON text: { ok, width, systems: [{ first, end, bars, height, svg, texts }] },
  // bars as [measure, x, width] in pixels of the drawing,
  // measures as indices into the piece, or { ok: false, error }.
  window.engravePiece = function (value, options) {
    const container = document.createElement('div');
    container.style.width = Math.max(100, Math.round(options.width)) + 'px';
    document.body.replaceChildren(container);
    try {
      let text = decodeBase64Utf8(value);
      // The library reads text as MusicXML only when it starts with the
      // declaration, and as the address of a file otherwise.
      if (!/^\s*<\?xml/.test(text)) {
        text = '<?xml version="1.0" encoding="UTF-8"?>\n' + text.replace(/^\uFEFF/, '');
      }
      const renderer = createRenderer(container);
      renderer.EngravingRules.StretchLastSystemLine = !!options.stretchLast;
      let failure = null;
      renderer.load(text).catch(function (error) { failure = error; });
      // Text is read by the time load() returns; a refusal leaves no sheet.
      if (!renderer.Sheet || !renderer.GraphicSheet) {
        throw failure || new Error('The score library could not read the piece');
      }
      renderer.Zoom = options.zoom;
      renderer.render();
      const svg = container.querySelector('svg');
      const page = renderer.GraphicSheet.MusicPages[0];
      if (!svg || !page) {
        throw new Error('The score library drew nothing');
      }
      const width = Number(svg.getAttribute('width')) || container.clientWidth;
      const box = svg.viewBox && svg.viewBox.baseVal;
      const zoom = box && box.width > 0 ? width / box.width : (options.zoom > 0 ? options.zoom : 1);
      const systems = page.MusicSystems.map(describeSystem);
      const groups = assignToSystems(svg, systems);
      return JSON.stringify({
        ok: true,
        width: width,
        systems: systems.map(function (system, index) {
          return systemDrawing(width, zoom, system, groups[index], !!options.separateTexts);
        })
      });
    } catch (error) {
      return JSON.stringify({ ok: false, error: errorText(error) });
    } finally {
      document.body.replaceChildren();
    }
  };
})();
