#include "widgets.h"

namespace cefeng {

namespace {

// 1. Drop-down lists take the base appearance, whose list Chromium draws in the
//    page's top layer. The rule is important and comes last in the cascade (an
//    adopted sheet), so a page's own appearance for its lists gives way to it: a
//    list drawn as a separate widget could not be seen at all. List boxes (multiple,
//    or more than one row) already draw in the page and keep their look. A cascade
//    layer gives the lists the look of the desktop's own (white, square, a row
//    highlighted, no check mark); being a layer, any style of the page's own comes
//    first. The sheet goes to the document and to every shadow root a script
//    attaches, and their adoptedStyleSheets setters keep it first, whatever the page
//    sets there.
// 2. A focused, closed list follows the desktop's keys: Up/Left and Down/Right move
//    to the previous or next enabled option, Home/PageUp and End/PageDown to the
//    first or last, each with input and change, instead of opening the list. Alt with
//    an arrow, F4, Space and Enter still open it. A page that handles the key itself
//    (preventDefault) keeps it.
// 3. Date and time fields and the colour chooser have pop-ups of their own that no
//    style brings into the page. A date or time field is typed into segment by
//    segment (Up and Down step a segment), so its picker is kept shut: the picker
//    button is hidden and Alt+Up/Down and F4 open nothing, and keys never go to a
//    picker that cannot be seen.
// 4. A colour field opens, in its place, a small field in the page for the colour
//    as #rrggbb: Enter takes a valid colour (input and change), Escape or a click
//    outside closes it.
// 5. A text field with a datalist shows its suggestions in the page, below it: the
//    options whose value contains what is typed (any case) as it is typed, and all
//    of them on Down; Up and Down move, Enter or a click takes one (input and change), Escape,
//    leaving the field or a click outside closes them.
const char* kWidgetScript = R"JS((() => {
  const list = ':is(select:not([multiple]):not([size]), select:not([multiple])[size="0"],' +
               ' select:not([multiple])[size="1"])';
  const sheet = new CSSStyleSheet();
  sheet.replaceSync(`
    ${list} { appearance: base-select !important; }
    ::picker(select) { appearance: base-select !important; }
    input::-webkit-calendar-picker-indicator { display: none; }
    @layer pv7-desktop-look {
      ${list} { background-color: Field; color: FieldText; border: 1px solid #767676; border-radius: 0;
        padding: 1px 0 1px 3px; font: -webkit-small-control; min-block-size: auto; gap: 0; }
      ${list}::picker-icon { content: ''; width: 5px; height: 5px; margin: 0 5px 0 auto; align-self: center;
        border: solid currentColor; border-width: 0 2px 2px 0; transform: translateY(-1px) rotate(45deg);
        transition: none; }
      ${list}::picker(select) { border: 1px solid #767676; border-radius: 0; padding: 0; margin: 0;
        box-shadow: none; background-color: Field; }
      ${list} option { padding: 0 4px; min-block-size: 24px; }
      ${list} option::checkmark { display: none; }
      ${list} option:is(:focus, :hover) { background-color: SelectedItem; color: SelectedItemText; outline: none; }
    }`);
  const keepSheet = (root, proto) => {
    const adopted = Object.getOwnPropertyDescriptor(proto, 'adoptedStyleSheets');
    Object.defineProperty(root, 'adoptedStyleSheets', {
      configurable: true, enumerable: true,
      get() { return adopted.get.call(this); },
      set(list) { adopted.set.call(this, [sheet, ...[...list].filter((s) => s !== sheet)]); },
    });
    adopted.set.call(root, [sheet]);
  };
  keepSheet(document, Document.prototype);
  const attachOriginal = Element.prototype.attachShadow;
  Element.prototype.attachShadow = function attachShadow(init) {
    const root = attachOriginal.call(this, init);
    // A root of another document (a template's, a parsed one) cannot adopt this
    // document's sheet: it keeps its own sheets.
    if (this.ownerDocument === document) keepSheet(root, ShadowRoot.prototype);
    listen(root);  // a closed root hides its fields from the window's listeners
    return root;
  };

  const temporal = new Set(['date', 'time', 'datetime-local', 'month', 'week']);
  const moves = {ArrowDown: 1, ArrowRight: 1, ArrowUp: -1, ArrowLeft: -1,
                 End: 'last', PageDown: 'last', Home: 'first', PageUp: 'first'};
  const isClosedDropDown = (s) => s instanceof HTMLSelectElement && !s.multiple && s.size <= 1 &&
    getComputedStyle(s).appearance === 'base-select' && !s.matches(':open');
  const enabled = (o) => !o.disabled && !(o.parentElement instanceof HTMLOptGroupElement && o.parentElement.disabled);
  const target = (options, current, move) => {
    if (move === 'first') return options[0];
    if (move === 'last') return options[options.length - 1];
    const at = options.indexOf(current);
    if (at < 0) return move > 0 ? options[0] : options[options.length - 1];
    return options[Math.min(options.length - 1, Math.max(0, at + move))];
  };
  const stepList = (e) => {
    const s = e.composedPath()[0];
    if (e.defaultPrevented || !Object.hasOwn(moves, e.key) || e.altKey || e.ctrlKey || e.metaKey) return;
    if (!isClosedDropDown(s)) return;
    e.preventDefault();
    const options = [...s.options].filter(enabled);
    if (!options.length) return;
    const next = target(options, s.options[s.selectedIndex], moves[e.key]);
    if (next.selected) return;
    next.selected = true;
    s.dispatchEvent(new Event('input', {bubbles: true, composed: true}));
    s.dispatchEvent(new Event('change', {bubbles: true}));
  };
  const keepPickerShut = (e) => {
    const i = e.composedPath()[0];
    const opener = e.key === 'F4' || (e.altKey && (e.key === 'ArrowDown' || e.key === 'ArrowUp'));
    if (opener && i instanceof HTMLInputElement && temporal.has(i.type)) e.preventDefault();
  };

  // The in-page pop-ups: a popover whose content sits in a closed shadow root, shown
  // below the field it serves; a value taken from one gives the field input and change.
  const popupBox = (kind, css, content) => {
    const box = document.createElement('div');
    box.popover = kind;
    box.style.cssText = 'position:fixed;inset:auto;margin:0;border:1px solid #767676;background:#fff;' +
                        'box-shadow:0 2px 6px rgba(0,0,0,.3);' + css;
    box.attachShadow({mode: 'closed'}).append(content);
    return box;
  };
  const placeBelow = (box, field) => {
    if (!box.isConnected) document.documentElement.append(box);
    const r = field.getBoundingClientRect();
    box.style.left = r.left + 'px';
    box.style.top = r.bottom + 'px';
    return r;
  };
  const takeValue = (input, value) => {
    input.value = value;
    input.dispatchEvent(new Event('input', {bubbles: true, composed: true}));
    input.dispatchEvent(new Event('change', {bubbles: true}));
  };

  let chooser = null;
  const colourChooser = () => {
    if (chooser) return chooser;
    const field = document.createElement('input');
    field.maxLength = 7;
    field.size = 8;
    field.setAttribute('aria-label', '#rrggbb');
    field.style.cssText = 'font:14px monospace;margin:0';
    chooser = {box: popupBox('auto', 'padding:4px', field), field, owner: null};
    field.addEventListener('keydown', (e) => {
      if (e.key !== 'Enter') return;
      e.preventDefault();
      takeColour();
    });
    return chooser;
  };
  const takeColour = () => {
    const m = /^#?([0-9a-f]{6}|[0-9a-f]{3})$/i.exec(chooser.field.value.trim());
    if (!m) return chooser.field.select();
    const hex = m[1].length === 3 ? m[1].replace(/./g, '$&$&') : m[1];
    const input = chooser.owner;
    chooser.box.hidePopover();
    if (!input || input.value === '#' + hex.toLowerCase()) return;
    takeValue(input, '#' + hex);
  };
  const openColourChooser = (input) => {
    const {box, field} = colourChooser();
    placeBelow(box, input);
    chooser.owner = input;
    field.value = input.value;
    if (!box.matches(':popover-open')) box.showPopover();
    field.focus();
    field.select();
  };
  const chooseColour = (e) => {
    const i = e.composedPath()[0];
    if (e.defaultPrevented || !(i instanceof HTMLInputElement) || i.type !== 'color' || i.disabled) return;
    e.preventDefault();
    openColourChooser(i);
  };
  let hints = null;
  const suggestionBox = () => {
    if (hints) return hints;
    const rows = document.createElement('div');
    const box = popupBox('manual', 'padding:0;color:#000;font:13px sans-serif;overflow:hidden', rows);
    hints = {box, rows, owner: null, options: [], at: -1};
    rows.addEventListener('mousedown', (e) => {  // the field keeps the focus
      e.preventDefault();
      const row = e.composedPath().find((n) => n.parentNode === rows);
      if (row) takeHint(hints.options[[...rows.children].indexOf(row)]);
    });
    return hints;
  };
  const hintsOpen = () => hints && hints.box.matches(':popover-open');
  const closeHints = () => { if (hintsOpen()) hints.box.hidePopover(); };
  const markHint = () => [...hints.rows.children].forEach((row, i) => {
    row.style.background = i === hints.at ? 'SelectedItem' : '';
    row.style.color = i === hints.at ? 'SelectedItemText' : '';
  });
  const showHints = (input, all) => {
    const typed = input.value.toLowerCase();
    const options = input.list ? [...input.list.options].filter((o) => !o.disabled && o.value &&
      (all || (o.value !== input.value && o.value.toLowerCase().includes(typed)))).slice(0, 50) : [];
    if (!options.length) return closeHints();
    const h = suggestionBox();
    h.owner = input;
    h.options = options;
    h.at = -1;
    h.rows.replaceChildren(...options.map((o) => {
      const row = document.createElement('div');
      row.style.cssText = 'padding:2px 4px;white-space:nowrap;cursor:default';
      row.textContent = o.label && o.label !== o.value ? o.value + '  ' + o.label : o.value;
      return row;
    }));
    h.box.style.minWidth = placeBelow(h.box, input).width + 'px';
    if (!hintsOpen()) h.box.showPopover();
  };
  const takeHint = (option) => {
    const input = hints.owner;
    closeHints();
    if (!option || !input || input.value === option.value) return;
    takeValue(input, option.value);
    closeHints();  // the input event offered the suggestions again
  };
  const withList = (e) => {
    const i = e.composedPath()[0];
    return i instanceof HTMLInputElement && i.list && !i.disabled && !i.readOnly ? i : null;
  };
  const hintOnInput = (e) => { const i = withList(e); if (i) showHints(i); };
  const hintKeys = (e) => {
    const i = withList(e);
    if (!i || e.defaultPrevented || e.altKey || e.ctrlKey || e.metaKey) return;
    const open = hintsOpen() && hints.owner === i;
    if (e.key === 'ArrowDown' && !open) {
      showHints(i, true);
    } else if (open && (e.key === 'ArrowDown' || e.key === 'ArrowUp')) {
      const last = hints.options.length - 1;
      hints.at = e.key === 'ArrowDown' ? Math.min(last, hints.at + 1) : Math.max(0, hints.at - 1);
      markHint();
    } else if (open && e.key === 'Enter' && hints.at >= 0) {
      takeHint(hints.options[hints.at]);
    } else if (open && e.key === 'Escape') {
      closeHints();
    } else {
      return;
    }
    e.preventDefault();
  };
  const hintsLeave = (e) => { if (hintsOpen() && e.composedPath()[0] === hints.owner) closeHints(); };
  // Bubbling: the page's own handlers come first, and one that prevents the default
  // keeps the event for itself (also from the window when a shadow root had it).
  function listen(at) {
    at.addEventListener('keydown', stepList);
    at.addEventListener('keydown', keepPickerShut);
    at.addEventListener('keydown', hintKeys);
    at.addEventListener('input', hintOnInput);
    at.addEventListener('focusout', hintsLeave);
    at.addEventListener('click', chooseColour);
  }
  listen(window);
})();)JS";

}  // namespace

void SendWidgetSetUp(DevToolsPipe& pipe, const std::string& s) {
  pipe.Send("Page.addScriptToEvaluateOnNewDocument", {{"source", kWidgetScript}}, s);
}

}  // namespace cefeng
