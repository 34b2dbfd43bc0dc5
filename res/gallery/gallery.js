// The offline gallery's behaviour: the lightbox of an album page and the search box of every page.
// A plain script without modules or fetch, as pages are opened from file://. Every text from the
// pages' data goes into the document as text, never as markup.
(function () {
  'use strict';

  var SIZE_NAMES = ['小图', '中图', '大图', '原图'];

  function make(tag, className, text) {
    var element = document.createElement(tag);
    if (className) element.className = className;
    if (text !== undefined) element.textContent = text;
    return element;
  }

  // The service's picture of a photo not saved, viewed offline, leaves an empty tile rather than the
  // browser's broken-picture sign; the caption still names it. A stored picture that fails stays
  // broken: that is worth seeing.
  function unavailable(image) {
    if (image.closest('.grid') && /^https?:/.test(image.src)) image.replaceWith(make('span', 'noimage'));
  }
  document.addEventListener('error', function (event) {
    if (event.target.tagName === 'IMG') unavailable(event.target);
  }, true);
  // Those that failed before this script ran.
  Array.prototype.forEach.call(document.images, function (image) {
    if (image.complete && image.naturalWidth === 0 && image.getAttribute('src')) unavailable(image);
  });

  // The lightbox: the photos of the album page, in page order.
  var links = Array.prototype.slice.call(document.querySelectorAll('.photos > .photo > a'));
  var box = null;
  var parts = {};
  var current = -1;

  function button(className, text, label, action) {
    var element = make('button', className, text);
    element.type = 'button';
    element.setAttribute('aria-label', label);
    element.addEventListener('click', action);
    return element;
  }

  function buildBox() {
    box = make('div', 'lightbox');
    box.id = 'lightbox';
    box.hidden = true;
    box.setAttribute('role', 'dialog');
    box.setAttribute('aria-modal', 'true');
    var figure = make('figure');
    parts.image = make('img');
    var caption = make('figcaption');
    parts.number = make('span', 'number');
    parts.title = make('span', 'title');
    parts.badges = make('span', 'badges');
    parts.description = make('p', 'description');
    parts.sizes = make('p', 'sizes');
    caption.append(parts.number, parts.title, parts.badges, parts.description, parts.sizes);
    figure.append(parts.image, caption);
    parts.close = button('close', '×', '关闭', close);
    box.append(figure, parts.close, button('prev', '‹', '上一张', function () { move(-1); }),
               button('next', '›', '下一张', function () { move(1); }));
    box.addEventListener('click', function (event) {
      if (event.target === box || event.target === figure) close();
    });
    // A swipe sideways moves on touch screens.
    var startX = null;
    box.addEventListener('touchstart', function (event) {
      startX = event.touches.length === 1 ? event.touches[0].clientX : null;
    }, { passive: true });
    box.addEventListener('touchend', function (event) {
      if (startX === null) return;
      var dx = event.changedTouches[0].clientX - startX;
      startX = null;
      if (Math.abs(dx) > 40) move(dx < 0 ? 1 : -1);
    });
    document.body.appendChild(box);
  }

  function show(index) {
    current = index;
    var link = links[index];
    var item = link.parentNode;
    var title = item.querySelector('.caption').textContent;
    var full = link.getAttribute('href');
    parts.image.hidden = full.charAt(0) === '#';
    if (parts.image.hidden) parts.image.removeAttribute('src');
    else parts.image.src = full;
    parts.image.alt = title;
    parts.number.textContent = (index + 1) + ' / ' + links.length;
    parts.title.textContent = title;
    parts.badges.textContent = '';
    Array.prototype.forEach.call(item.querySelectorAll('.badge'), function (badge) {
      parts.badges.appendChild(badge.cloneNode(true));
    });
    parts.description.textContent = link.getAttribute('data-desc') || '';
    parts.sizes.textContent = '';
    (link.getAttribute('data-sizes') || '').split(' ').forEach(function (address, size) {
      if (!address || address === '-' || size >= SIZE_NAMES.length) return;
      var sizeLink = make('a', null, SIZE_NAMES[size]);
      sizeLink.href = address;
      sizeLink.target = '_blank';
      parts.sizes.appendChild(sizeLink);
    });
  }

  function open(index) {
    if (!box) buildBox();
    show(index);
    box.hidden = false;
    document.body.classList.add('boxed');
    setInert(true);
    parts.close.focus();
  }

  function close() {
    box.hidden = true;
    document.body.classList.remove('boxed');
    setInert(false);
    if (links[current]) links[current].focus();
    current = -1;
  }

  function move(step) {
    var index = current + step;
    if (index >= 0 && index < links.length) show(index);
  }

  // While the lightbox is open, Tab stays inside it.
  function setInert(on) {
    Array.prototype.forEach.call(document.body.children, function (child) {
      if (child !== box) child.inert = on;
    });
  }

  links.forEach(function (link, index) {
    link.addEventListener('click', function (event) {
      event.preventDefault();
      open(index);
    });
  });

  document.addEventListener('keydown', function (event) {
    if (!box || box.hidden) return;
    if (event.key === 'Escape') close();
    else if (event.key === 'ArrowLeft') move(-1);
    else if (event.key === 'ArrowRight') move(1);
    else return;
    event.preventDefault();
  });

  // "#p12" opens the twelfth photo: search results link that way.
  function openFromAddress() {
    var match = /^#p(\d+)$/.exec(location.hash);
    var index = match ? Number(match[1]) - 1 : -1;
    if (index >= 0 && index < links.length) open(index);
  }
  window.addEventListener('hashchange', openFromAddress);
  openFromAddress();

  // Search: the index (search.js) is loaded with the first search, as a script: a page opened from
  // file:// may not fetch a file.
  var input = document.getElementById('search');
  var content = document.getElementById('content');
  var results = document.getElementById('results');
  var haystacks = null;
  var loading = false;
  var MAX_SHOWN = 500;

  function withIndex(then) {
    if (window.gallerySearchIndex) return then();
    if (loading) return;
    loading = true;
    var script = document.createElement('script');
    script.src = 'search.js';
    script.onload = then;
    script.onerror = function () { loading = false; };
    document.head.appendChild(script);
  }

  function search() {
    var words = input.value.toLowerCase().split(/\s+/).filter(Boolean);
    if (!words.length) {
      results.hidden = true;
      content.hidden = false;
      return;
    }
    withIndex(render);
  }

  function render() {
    var words = input.value.toLowerCase().split(/\s+/).filter(Boolean);
    if (!words.length) return search();
    var index = window.gallerySearchIndex;
    if (!haystacks) {
      haystacks = index.photos.map(function (photo) { return (photo[2] + '\n' + photo[3]).toLowerCase(); });
    }
    var found = [];
    haystacks.forEach(function (text, i) {
      if (words.every(function (word) { return text.indexOf(word) >= 0; })) found.push(index.photos[i]);
    });
    results.textContent = '';
    results.appendChild(make('p', null, found.length ? '找到' + found.length + '张照片' : '没有找到照片'));
    var list = make('ul', 'grid results');
    found.slice(0, MAX_SHOWN).forEach(function (photo) {
      var album = index.albums[photo[0]];
      var item = make('li', 'photo');
      var link = make('a');
      link.href = album[0] + '#p' + photo[1];
      if (photo[4]) {
        var image = make('img');
        image.src = photo[4];
        image.width = photo[5];
        image.height = photo[6];
        image.loading = 'lazy';
        image.alt = photo[2];
        link.appendChild(image);
      } else {
        link.appendChild(make('span', 'noimage'));
      }
      item.append(link, make('span', 'caption', photo[2]), make('span', 'album-name', album[1]));
      list.appendChild(item);
    });
    results.appendChild(list);
    results.hidden = false;
    content.hidden = true;
  }

  if (input) input.addEventListener('input', search);
})();
